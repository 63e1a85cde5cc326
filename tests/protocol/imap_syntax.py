"""A strict reader of IMAP response data (RFC 3501, 9): atoms, numbers, NIL, quoted strings,
literals and parenthesized lists. It refuses what a strict client parser refuses: an unescaped
quote or a bare backslash inside a quoted string, CR or LF inside one, a space before ")" or
two spaces in a row (lists may abut only as the parts of a multipart body structure do), and a
literal whose announced size does not match."""

import re

# An atom, a flag (a backslash and an atom), or a fetch item name with its section and origin.
ATOM = re.compile(rb"\\?[^\x00-\x20\x7f(){%*\"\\\[\]]+(?:\[[^\]\r\n]*\](?:<\d+>)?)?")


class SyntaxError_(AssertionError):
    pass


def parse_list(data, pos):
    # data[pos] is "(": returns (list, position after ")").
    assert data[pos:pos + 1] == b"("
    pos += 1
    items = []
    while True:
        if data[pos:pos + 1] == b")":
            if items and data[pos - 1:pos] == b" ":
                raise SyntaxError_("space before ) at %d: %r" % (pos, data[max(0, pos - 40):pos + 5]))
            return items, pos + 1
        if items:
            # The parts of a multipart body structure follow one another without a space.
            if data[pos - 1:pos + 1] == b")(":
                item, pos = parse_value(data, pos)
                items.append(item)
                continue
            if data[pos:pos + 1] != b" ":
                raise SyntaxError_("no space between items at %d: %r" % (pos, data[pos - 20:pos + 20]))
            pos += 1
        item, pos = parse_value(data, pos)
        items.append(item)


def parse_value(data, pos):
    c = data[pos:pos + 1]
    if c == b"(":
        return parse_list(data, pos)
    if c == b'"':
        out = bytearray()
        pos += 1
        while True:
            c = data[pos:pos + 1]
            if c == b"":
                raise SyntaxError_("unterminated quoted string")
            if c in (b"\r", b"\n"):
                raise SyntaxError_("line end inside a quoted string at %d" % pos)
            if c == b"\\":
                nxt = data[pos + 1:pos + 2]
                if nxt not in (b'"', b"\\"):
                    raise SyntaxError_("bad escape %r at %d" % (nxt, pos))
                out += nxt
                pos += 2
                continue
            if c == b'"':
                return bytes(out), pos + 1
            out += c
            pos += 1
    if c == b"{":
        m = re.compile(rb"\{(\d+)\}\r\n").match(data, pos)
        if not m:
            raise SyntaxError_("bad literal at %d: %r" % (pos, data[pos:pos + 20]))
        n = int(m.group(1))
        end = m.end() + n
        if end > len(data):
            raise SyntaxError_("literal runs past the data")
        return data[m.end():end], end
    m = ATOM.match(data, pos)
    if not m:
        raise SyntaxError_("unexpected %r at %d: %r" % (c, pos, data[max(0, pos - 30):pos + 30]))
    word = m.group(0)
    return (None if word == b"NIL" else word), m.end()


def parse_fetch(response):
    """Reads one whole '* n FETCH (...)\\r\\n' response; returns (n, {name: value})."""
    m = re.compile(rb"\* (\d+) FETCH ").match(response)
    if not m:
        raise SyntaxError_("not a FETCH response: %r" % response[:40])
    items, pos = parse_list(response, m.end())
    if response[pos:] != b"\r\n":
        raise SyntaxError_("data after the response: %r" % response[pos:pos + 40])
    if len(items) % 2:
        raise SyntaxError_("odd number of items: %r" % items)
    return int(m.group(1)), dict(zip(items[::2], items[1::2]))


def split_responses(data):
    """Splits untagged responses (with their literals) off the front of data; returns the list
    and the rest."""
    out = []
    while data.startswith(b"* "):
        pos = 0
        while True:
            eol = data.index(b"\r\n", pos)
            m = re.compile(rb"\{(\d+)\}$").search(data, pos, eol)
            if not m:
                break
            pos = eol + 2 + int(m.group(1))
        out.append(data[:eol + 2])
        data = data[eol + 2:]
    return out, data
