# Wraps the lines of a --help text that are wider than the man page's text column (width),
# continuing an option's description under its own column and a paragraph at its indent.
function wrap(line,    indent, out, words, n, i) {
    match(line, /^ */)
    indent = RLENGTH
    # An option line: its description starts after the first gap of two blanks or more.
    if (indent > 0 && match(substr(line, indent + 1), /[^ ]  +[^ ]/))
        indent += RSTART + RLENGTH - 2
    out = substr(line, 1, indent)
    n = split(substr(line, indent + 1), words, / +/)
    for (i = 1; i <= n; i++) {
        if (length(out) + 1 + length(words[i]) > width && out ~ /[^ ]$/) {
            print out
            out = sprintf("%" indent "s", "")
        } else if (out ~ /[^ ]$/) {
            out = out " "
        }
        out = out words[i]
    }
    print out
}
{ if (length($0) > width) wrap($0); else print }
