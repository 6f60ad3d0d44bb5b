#!/usr/bin/env python3
"""help2man over a program whose --help shows examples as indented blocks (a YAML text, shell
lines), each after a line ending in a colon, before the lists of commands and options.

help2man fills every paragraph, which turns a YAML example into text that no longer reads as
YAML. This takes those blocks out of the help that help2man sees and puts each back, after the
paragraph that leads to it, as lines kept as they are (.nf). Usage:

    help2man_verbatim.py PROGRAM WORKDIR OUTPUT [help2man options...]
"""

import os
import re
import stat
import subprocess
import sys


def split_blocks(help_text):
    """The help without its example blocks, and (lead line, block lines) for each block."""
    lines = help_text.split("\n")
    kept, blocks = [], []
    i = 0
    free_text = True
    while i < len(lines):
        line = lines[i]
        if line in ("Commands:", "Options:", "Arguments:"):
            free_text = False
        lead = kept[-1] if kept else ""
        if free_text and line.startswith("  ") and lead.endswith(":") and not lead.startswith(" "):
            block = []
            while i < len(lines) and lines[i].startswith("  "):
                block.append(lines[i])
                i += 1
            blocks.append((lead, block))
            kept.append("")  # the text after the block is a paragraph of its own
            continue
        kept.append(line)
        i += 1
    return "\n".join(kept), blocks


def roff_line(line):
    line = line.replace("\\", "\\e").replace("-", "\\-")
    if line.startswith((".", "'")):
        line = "\\&" + line
    return line


def main():
    program, workdir, output = sys.argv[1:4]
    options = sys.argv[4:]
    name = os.path.basename(program)
    os.makedirs(workdir, exist_ok=True)
    help_text = subprocess.run([program, "--help"], check=True, capture_output=True, text=True).stdout
    # help2man is given the version; a program without --version answers nothing here.
    version = subprocess.run([program, "--version"], capture_output=True, text=True).stdout
    filtered, blocks = split_blocks(help_text)

    # help2man names the page after the program it runs: a stand-in of the same name that
    # answers --help and --version with the texts above.
    with open(os.path.join(workdir, name + ".help"), "w") as f:
        f.write(filtered)
    with open(os.path.join(workdir, name + ".version"), "w") as f:
        f.write(version)
    stand_in = os.path.join(workdir, name)
    with open(stand_in, "w") as f:
        f.write('#!/bin/sh\ncase "$1" in\n--help) exec cat "$0.help" ;;\n--version) exec cat "$0.version" ;;\n'
                'esac\nexit 1\n')
    os.chmod(stand_in, os.stat(stand_in).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)

    include = os.path.join(workdir, name + ".verbatim.h2m")
    with open(include, "w") as f:
        for lead, block in blocks:
            # The paragraph that ends with the lead line, and no other.
            f.write("/(?:\\A|\\n)%s\\n?\\z/\n" % re.escape(lead).replace("/", "\\/"))
            # At the page's indent, as the help shows it at its own.
            indent = min(len(b) - len(b.lstrip(" ")) for b in block if b.strip())
            f.write(".PP\n.nf\n" + "\n".join(roff_line(b[indent:]) for b in block) + "\n.fi\n")

    extra = ["--include=" + include] if blocks else []
    subprocess.run([os.environ.get("HELP2MAN", "help2man"), *options, *extra, "--output=" + output, stand_in],
                   check=True)
    with open(output) as f:
        page = f.read()
    if page.count("\n.nf\n") != len(blocks):
        sys.exit("%s: %d example blocks in --help, %d in the page" % (name, len(blocks), page.count("\n.nf\n")))


if __name__ == "__main__":
    main()
