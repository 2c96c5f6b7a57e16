// How the server connection dialog looks, written once for every front end: the
// form, and each control with its kind, place, caption, font, colour and place in
// the Tab order. No toolkit: each view builds its controls from these rows, and
// says where its toolkit cannot follow them.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace upgrade::run {

// Pixels within the form's client area.
struct DialogRect {
  int left;
  int top;
  int width;
  int height;

  [[nodiscard]] constexpr int right() const noexcept { return left + width; }
  [[nodiscard]] constexpr int bottom() const noexcept { return top + height; }
};

struct DialogColour {
  int red;
  int green;
  int blue;

  friend constexpr bool operator==(const DialogColour&, const DialogColour&) = default;
};

// The form's face ("宋体", the GB2312 character set) at a height in pixels.
struct DialogFont {
  int pixels;
  bool bold;

  friend constexpr bool operator==(const DialogFont&, const DialogFont&) = default;
};

struct DialogFormLook {
  std::string_view name;
  std::string_view caption;  // UTF-8
  int clientWidth;
  int clientHeight;
  std::string_view fontFace;  // UTF-8; its character set is GB2312
  DialogFont font;
};

inline constexpr DialogFormLook kServerDialogForm{.name = "FSqlServer",
                                                  .caption = "服务器连接参数配置",
                                                  .clientWidth = 348,
                                                  .clientHeight = 242,
                                                  .fontFace = "宋体",
                                                  .font = {12, false}};

enum class DialogControlKind {
  Picture,   // the background picture, stretched over its rectangle
  Label,     // one line, left-aligned, centred in its height, cut at its rectangle;
             // no background of its own: the picture shows through around the text
  ComboBox,  // editable
  Edit,
  Button,  // caption centred
};

// The controls in the order in which they lie over one another: the picture
// lowest, then the labels, which must never cover the fields or the buttons.
enum class DialogControl {
  Image27,
  Label1,
  Label4,
  Label2,
  Label3,
  RzLabel1,
  RzComboBox1,
  RzComboBox2,
  RzEdit1,
  RzEdit2,
  RzBitBtn1,
  RzBitBtn2,
};

inline constexpr int kNoTabStop = -1;
inline constexpr DialogColour kDialogBlack{0, 0, 0};
inline constexpr DialogColour kDialogRed{255, 0, 0};
inline constexpr DialogFont kDialogBoldFont{14, true};

struct DialogControlLook {
  DialogControl control;
  std::string_view name;
  DialogControlKind kind;
  DialogRect place;
  // UTF-8: the text of a label or button, a field's initial text.
  std::string_view caption;
  DialogFont font = kServerDialogForm.font;
  // Of the text; none where the toolkit's own is meant (the fields).
  std::optional<DialogColour> colour;
  int tabOrder = kNoTabStop;
};

// Tab goes server, password, port, Connect, Abandon, database name; Enter walks
// in another order, which is the dialog's behaviour, not its look. One control
// to a row:
// clang-format off
inline constexpr std::array<DialogControlLook, 12> kServerDialogControls{{
    {.control = DialogControl::Image27, .name = "Image27", .kind = DialogControlKind::Picture,
     .place = {0, 0, 348, 242}},
    {.control = DialogControl::Label1, .name = "Label1", .kind = DialogControlKind::Label,
     .place = {34, 35, 130, 14}, .caption = "服务器名称 / IP：", .font = kDialogBoldFont,
     .colour = kDialogBlack},
    {.control = DialogControl::Label4, .name = "Label4", .kind = DialogControlKind::Label,
     .place = {34, 67, 135, 14}, .caption = "服务器数据库名称：", .font = kDialogBoldFont,
     .colour = kDialogBlack},
    {.control = DialogControl::Label2, .name = "Label2", .kind = DialogControlKind::Label,
     .place = {34, 101, 135, 14}, .caption = "服务器数据库密码：", .font = kDialogBoldFont,
     .colour = kDialogBlack},
    {.control = DialogControl::Label3, .name = "Label3", .kind = DialogControlKind::Label,
     .place = {34, 133, 135, 14}, .caption = "服务器数据库端口：", .font = kDialogBoldFont,
     .colour = kDialogBlack},
    {.control = DialogControl::RzLabel1, .name = "RzLabel1", .kind = DialogControlKind::Label,
     .place = {37, 158, 252, 12}, .caption = "提示[数据库密码一般为空，数据库端口一般80]",
     .colour = kDialogRed},
    {.control = DialogControl::RzComboBox1, .name = "RzComboBox1",
     .kind = DialogControlKind::ComboBox, .place = {163, 32, 145, 20}, .tabOrder = 0},
    {.control = DialogControl::RzComboBox2, .name = "RzComboBox2",
     .kind = DialogControlKind::ComboBox, .place = {163, 64, 145, 20}, .tabOrder = 5},
    // The password is shown in clear text.
    {.control = DialogControl::RzEdit1, .name = "RzEdit1", .kind = DialogControlKind::Edit,
     .place = {163, 96, 145, 20}, .tabOrder = 1},
    {.control = DialogControl::RzEdit2, .name = "RzEdit2", .kind = DialogControlKind::Edit,
     .place = {163, 133, 145, 20}, .caption = "80", .tabOrder = 2},
    {.control = DialogControl::RzBitBtn1, .name = "RzBitBtn1", .kind = DialogControlKind::Button,
     .place = {57, 183, 93, 31}, .caption = "连接[F2]", .font = kDialogBoldFont,
     .colour = kDialogBlack, .tabOrder = 3},
    {.control = DialogControl::RzBitBtn2, .name = "RzBitBtn2", .kind = DialogControlKind::Button,
     .place = {190, 183, 93, 31}, .caption = "放弃[Esc]", .font = kDialogBoldFont,
     .colour = kDialogBlack, .tabOrder = 4},
}};
// clang-format on

[[nodiscard]] constexpr const DialogControlLook& lookOf(DialogControl control) {
  return kServerDialogControls[static_cast<std::size_t>(control)];
}

// The buttons' face, lighter under the mouse, darker while pressed; their edge
// shows the mouse and the keyboard focus.
struct DialogButtonColours {
  DialogColour face;
  DialogColour faceHot;
  DialogColour facePressed;
  DialogColour edge;
  DialogColour edgeHot;
  DialogColour edgeFocus;
};

inline constexpr DialogButtonColours kDialogButtonColours{.face = {236, 233, 216},
                                                          .faceHot = {252, 250, 240},
                                                          .facePressed = {214, 210, 190},
                                                          .edge = {128, 125, 110},
                                                          .edgeHot = {230, 150, 30},
                                                          .edgeFocus = {50, 90, 180}};

inline constexpr std::size_t kDialogTabStops = static_cast<std::size_t>(std::ranges::count_if(
    kServerDialogControls,
    [](const DialogControlLook& look) { return look.tabOrder != kNoTabStop; }));

// The controls Tab visits, in its order.
[[nodiscard]] constexpr std::array<DialogControl, kDialogTabStops> dialogTabOrder() {
  std::array<DialogControl, kDialogTabStops> order{};
  for (const DialogControlLook& look : kServerDialogControls) {
    if (look.tabOrder != kNoTabStop) {
      order.at(static_cast<std::size_t>(look.tabOrder)) = look.control;
    }
  }
  return order;
}

static_assert(std::ranges::all_of(kServerDialogControls,
                                  [](const DialogControlLook& look) {
                                    return &lookOf(look.control) == &look;
                                  }),
              "the rows follow DialogControl");

}  // namespace upgrade::run
