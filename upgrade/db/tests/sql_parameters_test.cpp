// Named parameter markers as the step query writes them, made positional for the
// drivers: only markers outside quoted literals count, in SQL Server's quoting.
#include <gtest/gtest.h>

#include "sql_parameters.h"

namespace upgrade::db {
namespace {

TEST(NamedParameters, OnlyMarkersOutsideLiteralsBecomePositional) {
  const auto s = toPositional("update t set a=:a1, b=':no', c=\"x:y\", d=[e:f], g=:a1, h=:b_2");
  EXPECT_EQ(s.text, "update t set a=?, b=':no', c=\"x:y\", d=[e:f], g=?, h=?");
  EXPECT_EQ(s.names, (std::vector<std::string>{"a1", "a1", "b_2"}));
  EXPECT_EQ(parameterNames("x=:a1 and y=:a1 and z=:b"), (std::vector<std::string>{"a1", "b"}));
}

TEST(NamedParameters, DoubledClosingBracketStaysInsideTheName) {
  // SQL Server reads "]]" inside brackets as an escaped ']', so ":b" is part of the name.
  const auto s = toPositional("select [a]]:b] from t where c=:c");
  EXPECT_EQ(s.text, "select [a]]:b] from t where c=?");
  EXPECT_EQ(s.names, (std::vector<std::string>{"c"}));
}

TEST(NamedParameters, DoubledColonIsALiteralAndALoneColonIsText) {
  const auto s = toPositional("select '12:30', 'it''s :x' , a::b, c: d, :");
  EXPECT_EQ(s.text, "select '12:30', 'it''s :x' , a:b, c: d, :");
  EXPECT_TRUE(s.names.empty());
}

}  // namespace
}  // namespace upgrade::db
