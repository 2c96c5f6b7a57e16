#!/usr/bin/env python3
"""Compares what the pretend SQL Server received with what the ladder sends.

usage: journal_matches_ladder.py PEER_JOURNAL LADDER_TRANSCRIPT

PEER_JOURNAL holds tds-peer's journal lines (other lines, such as "port N" and
"version V", are ignored); LADDER_TRANSCRIPT is ladder-transcript's output for the
same start. The ladder's operations are put in the form FreeTDS gives them on the
wire: a text without bound values is a batch of the text with its markers made
positional; a text with values is sp_executesql with the n-th marker as @Pn, its
definitions and its values; commit and rollback are transaction requests that start
the next transaction; begin sends nothing. The connection adds one begin first and
one rollback last. Exit status 0 when identical, 1 at the first difference.
"""
import json
import sys


def name_char(c):
    return c.isascii() and (c.isalnum() or c == "_")


def positional(text):
    """The text with ':name' markers as '?', and the names in marker order.

    Quoted literals ('...', "..." and [...], a doubled closing quote staying
    inside) keep their colons; '::' is a literal colon.
    """
    out, names, i = [], [], 0
    while i < len(text):
        c = text[i]
        if c in "'\"[":
            close = "]" if c == "[" else c
            out.append(c)
            i += 1
            while i < len(text):
                out.append(text[i])
                if text[i] == close:
                    if i + 1 < len(text) and text[i + 1] == close:
                        out.append(text[i + 1])
                        i += 2
                        continue
                    i += 1
                    break
                i += 1
        elif c == ":" and text[i + 1 : i + 2] == ":":
            out.append(":")
            i += 2
        elif c == ":" and i + 1 < len(text) and name_char(text[i + 1]):
            end = i + 1
            while end < len(text) and name_char(text[end]):
                end += 1
            names.append(text[i + 1 : end])
            out.append("?")
            i = end
        else:
            out.append(c)
            i += 1
    return "".join(out), names


def wire_value(value):
    """The definition and the value text the driver sends for a bound value."""
    if isinstance(value, bool):
        return "BIT", "1" if value else "0"
    # The column size bound is the text's UTF-16 units, at least one.
    units = len(value.encode("utf-16-le")) // 2
    return f"NVARCHAR({max(units, 1)})", value


def wire_form(operation):
    op = operation["op"]
    if op in ("begin", "message"):
        return None
    if op in ("commit", "rollback"):
        return {"request": op, "beginNext": True}
    text, names = positional(operation["text"])
    if not names:
        return {"request": "batch", "text": text}
    params = operation.get("params", {})
    pieces, definitions, values = text.split("?"), [], []
    rpc_text = pieces[0]
    for n, name in enumerate(names, start=1):
        definition, value = wire_value(params[name])
        definitions.append(f"@P{n} {definition}")
        values.append(value)
        rpc_text += f"@P{n}" + pieces[n]
    return {"request": "rpc", "text": rpc_text, "params": ",".join(definitions), "values": values}


def received(line):
    """A journal entry without what only the connection decides."""
    entry = json.loads(line)
    entry.pop("n", None)
    entry.pop("descriptor", None)
    return entry


def main(journal_path, transcript_path):
    with open(journal_path, encoding="utf-8") as f:
        actual = [received(line) for line in f if line.startswith("{")]
    with open(transcript_path, encoding="utf-8") as f:
        operations = [json.loads(line) for line in f if line.strip()]
    expected = [{"request": "begin"}]
    expected += [w for w in map(wire_form, operations) if w is not None]
    expected.append({"request": "rollback", "beginNext": True})
    for i, (a, e) in enumerate(zip(actual, expected), start=1):
        if a != e:
            print(f"request {i} differs\n  received: {json.dumps(a, ensure_ascii=False)}\n"
                  f"  expected: {json.dumps(e, ensure_ascii=False)}", file=sys.stderr)
            return 1
    if len(actual) != len(expected):
        print(f"{len(actual)} requests received, {len(expected)} expected", file=sys.stderr)
        return 1
    print(f"identical: {len(actual)} requests")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
