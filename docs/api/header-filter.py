#!/usr/bin/python3
"""Doxygen's input filter for the public headers: prints the header named by
its argument with the header's plain // comments read as documentation.

The headers document their interface in ordinary // comments, written for
people who read the header. This filter lets Doxygen read the same words,
so that the reference holds no second copy of them:
  - the comment that opens the file documents the file, and also the
    class named like the file when that class has no comment of its own;
  - a comment block documents the declarations right under it, up to the
    next blank line, comment or access label (several become one member
    group, and DISTRIBUTE_GROUP_DOC gives each of them the text);
  - a comment at the end of a line of code documents that line's member
    (a lint marker such as "NOLINT" is no documentation and is dropped).
Private sections are left out. Lines keep their numbers, so Doxygen's warnings point into the header.
Comments in function bodies and above other preprocessor lines than
#define stay plain.
"""
import re
import sys

COMMENT = re.compile(r"^(\s*)//(?!/)(.*)$")
TRAILING = re.compile(r"^(\s*[^\s/].*?)(\s+)//(?!/)\s?(.*)$")
LINT = re.compile(r"^NOLINT\S*(:\s*)?")
SCOPE = re.compile(r"^\s*(class|struct|union|namespace)\b[^;]*?(\w+)\s*(:[^{]*)?\{?\s*$")
SPECIAL = re.compile(r"^\s*(\w+\s*\(\s*(const\s+)?\w+\s*&&?\s*\w*\s*\)|\w+\s*&\s*operator=\s*\(\s*(const\s+)?\w+\s*&&?\s*\w*\s*\))\s*(noexcept\s*)?=\s*(default|delete)\s*;")
DEFINE = re.compile(r"^#\s*define\s+\w+")
HEADER_NAME = re.compile(r"[^/]+/[^/]+\.h$|[^/]+\.h$")
LABEL = re.compile(r"^\s*(public|protected|private)\s*:")
NAME = re.compile(r"(~?\w+|operator\s*\S+?)\s*(\(|=|;|\[|\{|:|,)")


def code_of(line):
    """The line without its comment and the contents of its literals."""
    code = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    code = re.sub(r"'(\\.|[^'\\])*'", "''", code)
    return re.sub(r"//.*$", "", code)


def declarations(lines, start):
    """The declarations from line `start` on, up to the next blank line,
    comment line, access label, preprocessor line or the end of the scope:
    a list of (first line, past the last line, name)."""
    found = []
    i = start
    while i < len(lines):
        stripped = lines[i].strip()
        if (not stripped or stripped.startswith("//") or LABEL.match(lines[i])
                or stripped.startswith("#") or stripped.startswith("}")):
            break
        first = i
        if SCOPE.match(lines[i]) and "}" not in code_of(lines[i]):
            # A class opens here: its members are read one by one.
            found.append((i, i + 1, SCOPE.match(lines[i]).group(2)))
            break
        depth = 0
        text = ""
        while i < len(lines):
            code = code_of(lines[i])
            text += " " + code
            depth += code.count("{") + code.count("(") - code.count("}") - code.count(")")
            i += 1
            ends = code.rstrip().endswith((";", "}", ","))
            if depth <= 0 and ends:
                break
        head = text.split("(")[0] + "(" if "(" in text else text
        names = NAME.findall(re.sub(r"\s+", " ", head))
        found.append((first, i, names[-1][0] if names else ""))
        if depth < 0:
            break
    return found


def trailing(line):
    """`line` with a comment after its code turned into the member's
    documentation, a lint marker dropped."""
    match = TRAILING.match(line)
    if not match or match.group(1).lstrip().startswith("#"):
        return line
    text = LINT.sub("", match.group(3))
    if not text:
        return match.group(1)
    return match.group(1) + match.group(2) + "///< " + text


REVIEW = len(sys.argv) > 2 and sys.argv[2] == "--groups"


def main():
    with open(sys.argv[1], encoding="utf-8") as source:
        lines = source.read().split("\n")
    out = list(lines)
    i = 0
    header = HEADER_NAME.search(sys.argv[1]).group(0)
    if lines and COMMENT.match(lines[0]):
        # One block, so that Doxygen gives all of it to the file; the \file
        # command (at the end, to keep the lines where they are) names it.
        while i < len(lines) and COMMENT.match(lines[i]):
            out[i] = COMMENT.match(lines[i]).group(2)
            i += 1
        out[0] = "/**" + out[0]
        out[i - 1] = out[i - 1] + " \\file " + header + " */"
    while i < len(lines):
        line = lines[i]
        if line.strip().startswith("#"):
            i += 1
            continue
        if COMMENT.match(line):
            first = i
            while i < len(lines) and COMMENT.match(lines[i]):
                i += 1
            if i < len(lines) and DEFINE.match(lines[i]):
                # Macros: the comment documents the definitions under it.
                end = i
                while end < len(lines) and DEFINE.match(lines[end]):
                    end += 1
                for k in range(first, i):
                    out[k] = COMMENT.sub(r"\1///\2", lines[k])
                if end - i > 1:
                    out[first] = "/**@{*/ " + out[first].lstrip()
                    # (not on the #define line, where it would join the macro)
                    lines[end] = out[end] = "/**@}*/ " + out[end]
                i = end
                continue
            decls = declarations(lines, i)
            if not decls:
                continue
            for k in range(first, i):
                out[k] = COMMENT.sub(r"\1///\2", lines[k])
            # Defaulted or deleted copies and moves under a comment about
            # something else are left out of the reference, as are those
            # that no comment documents.
            leading = 0
            while leading < len(decls) and SPECIAL.match(lines[decls[leading][0]]):
                leading += 1
            if leading < len(decls):
                kept = decls[:leading + 1]
                for d in decls[leading + 1:]:
                    if SPECIAL.match(lines[d[0]]):
                        for k in range(d[0], d[1]):
                            lines[k] = ""
                    else:
                        kept.append(d)
                decls = kept
            same = len(decls)
            if REVIEW:
                names = sorted(set(d[2] for d in decls))
                if len(names) > 1:
                    sys.stderr.write("%s:%d: %s\n" % (sys.argv[1], first + 1, " ".join(d[2] for d in decls)))
            end = decls[-1][1]
            for k in range(i, end):
                out[k] = trailing(lines[k])
            if same > 1:
                indent = COMMENT.match(lines[first]).group(1)
                out[first] = indent + "/**@{*/ " + out[first].lstrip()
                last = decls[same - 1][1] - 1
                out[last] = out[last] + " /**@}*/"
            i = end
            continue
        out[i] = "" if SPECIAL.match(line) else trailing(line)
        i += 1
    # Private sections are no part of the reference: Doxygen skips them
    # whole (it would otherwise link to their nested classes).
    for k, line in enumerate(lines):
        label = re.match(r"^(\s*)private\s*:\s*$", line)
        if not label:
            continue
        indent = label.group(1)
        close = re.compile("^" + indent[:-1] + r"\}|^" + indent + r"(public|protected)\s*:")
        for m in range(k + 1, len(lines)):
            if close.match(lines[m]):
                out[k] = out[k] + " /** \\cond */"
                out[m] = "/** \\endcond */ " + out[m]
                break
    stem = re.escape(sys.argv[1].rsplit("/", 1)[-1].rsplit(".", 1)[0])
    own_class = re.compile(r"^(class|struct)\s+(\w+\s+)?" + stem + r"\b[^;]*$")
    for k in range(1, len(lines)):
        if own_class.match(lines[k]) and not COMMENT.match(lines[k - 1]):
            out[k] = "/** \\copydoc " + header + " */ " + out[k]
            break
    sys.stdout.write("\n".join(out))


main()
