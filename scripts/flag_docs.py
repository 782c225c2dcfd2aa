#!/usr/bin/env python3
"""The manual page and the bash completion of tarvik, made from its help screen.

    scripts/flag_docs.py --tarvik <binary> --version <x.y.z> --docs <docs/man> --man <out> --completion <out>
    scripts/flag_docs.py --tarvik <binary> --docs <docs/man> --check

The help screen is the one list of flags: the binary prints it (tarvik -help),
and every flag line of it becomes an entry of the page's OPTIONS section and a
word of the completion. So a flag added to the help screen is in both at the
next build, and neither can name a flag the binary lacks. What the help screen
does not say comes from <docs>: tarvik.1.in, the page around the options, and
defaults.tsv, the default of each flag that takes a value (unless its help line
names it). --check fails when a flag taking a value has no default, or
defaults.tsv names a flag the help screen lacks.

A help line is "<flag> [<value> ...]  <description>": the synopsis, then a
colon or two or more blanks, then the text; an indented line after it
continues the text; a line ending in ':' heads a group. A value written
<file> completes as a file name.
"""
import argparse
import os
import re
import subprocess
import sys

FLAG = re.compile(r"^\s*(--?[A-Za-z][\w-]*)(.*)$")
SPLIT = re.compile(r"\s+:\s*|\s*:\s+|\s{2,}")
HEADING = re.compile(r"^\S.*:\s*$")


class Flag:
    def __init__(self, name, values, text, group):
        self.name, self.values, self.text, self.group = name, values, text, group

    def takes_file(self):
        return "<file>" in self.values

    def takes_value(self):
        return bool(self.values)


def parse_help(text):
    """The flags of a help screen, in its order."""
    flags, group = [], ""
    for line in text.splitlines():
        m = FLAG.match(line)
        if m and m.group(2)[:1] in ("", " ", "\t"):
            rest = m.group(2).strip()
            parts = SPLIT.split(rest, maxsplit=1) if rest else ["", ""]
            values, description = parts[0].strip(), parts[1].strip() if len(parts) > 1 else ""
            flags.append(Flag(m.group(1), values, description, group))
        elif line[:1].isspace() and line.strip() and flags:
            flags[-1].text += " " + line.strip()
        elif HEADING.match(line):
            group = re.sub(r"\s+are$", "", line.strip().rstrip(":").strip())
    return flags


def help_screen(binary):
    r = subprocess.run([os.path.abspath(binary), "-help"], capture_output=True, text=True)
    if r.returncode != 0 or not r.stdout:
        sys.exit(f"flag_docs.py: {binary} -help failed (status {r.returncode}): {r.stderr.strip()}")
    return r.stdout


def read_defaults(path):
    defaults = {}
    with open(path) as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.startswith("#"):
                continue
            name, sep, value = line.rstrip("\n").partition("\t")
            if not sep or not value.strip():
                sys.exit(f"flag_docs.py: {path}: line {number}: expected '<flag><TAB><default>'")
            defaults[name.strip()] = value.strip()
    return defaults


def problems(flags, defaults):
    names = {f.name for f in flags}
    out = [f"{f.name} takes a value but neither its help line nor defaults.tsv gives its default"
           for f in flags if f.takes_value() and f.name not in defaults and "default" not in f.text.lower()]
    out += [f"defaults.tsv names {name}, which the help screen lacks" for name in defaults if name not in names]
    if not flags:
        out.append("the help screen lists no flag")
    return out


def roff(text):
    """Plain text as roff: backslashes and minus signs escaped, no line read as a request."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\n".join("\\&" + line if line[:1] in (".", "'") else line for line in text.splitlines())


def options_section(flags, defaults):
    out, group = [], None
    for f in flags:
        if f.group != group and f.group:
            out.append(".SS " + roff(f.group))
        group = f.group
        out.append(".TP")
        out.append(f"\\fB{roff(f.name)}\\fR" + (f" \\fI{roff(f.values)}\\fR" if f.values else ""))
        text = f.text[:1].upper() + f.text[1:] if f.text else ""
        if f.name in defaults:
            text = text.rstrip(". ") + ". Default: " + defaults[f.name] + "."
        elif not f.takes_value():
            text = text.rstrip(". ") + ". Default: off."
        out.append(roff(text))
    return "\n".join(out)


def manual_page(template, flags, defaults, version):
    with open(template) as f:
        page = f.read()
    return page.replace("@VERSION@", version).replace("@OPTIONS@", options_section(flags, defaults))


def completion(flags):
    words = " ".join(f.name for f in flags)
    files = "|".join(f.name for f in flags if f.takes_file()) or "--no-file-flag--"
    values = "|".join(f.name for f in flags if f.takes_value() and not f.takes_file()) or "--no-value-flag--"
    return f"""# bash completion of tarvik, made from its help screen by scripts/flag_docs.py
_tarvik() {{
  local cur=${{COMP_WORDS[COMP_CWORD]}} prev=
  [ "$COMP_CWORD" -gt 0 ] && prev=${{COMP_WORDS[COMP_CWORD-1]}}
  COMPREPLY=()
  case "$prev" in
    {files}) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    {values}) [[ $cur == -* ]] || return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "{words}" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}}
complete -o filenames -F _tarvik tarvik
"""


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def main():
    ap = argparse.ArgumentParser(description="tarvik's manual page and bash completion from its help screen")
    ap.add_argument("--tarvik", required=True, help="the tarvik binary whose help screen lists the flags")
    ap.add_argument("--docs", required=True, help="the folder of tarvik.1.in and defaults.tsv")
    ap.add_argument("--version", default="", help="the version the page names")
    ap.add_argument("--man", help="write the manual page here")
    ap.add_argument("--completion", help="write the bash completion here")
    ap.add_argument("--check", action="store_true", help="fail when a default is missing or names no flag")
    a = ap.parse_args()
    flags = parse_help(help_screen(a.tarvik))
    defaults = read_defaults(f"{a.docs}/defaults.tsv")
    found = problems(flags, defaults)
    for p in found:
        print(f"flag_docs.py: {p}", file=sys.stderr)
    if a.man:
        write(a.man, manual_page(f"{a.docs}/tarvik.1.in", flags, defaults, a.version))
    if a.completion:
        write(a.completion, completion(flags))
    if a.check:
        print(f"{len(flags)} flags: " + " ".join(f.name for f in flags))
        return 1 if found else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
