#!/usr/bin/env python3
"""Checks the manual pages against the example site, and lints them.

man_pages.py keywords SOURCE_DIR   every keyword of the example site and of
    the configuration reader's table is documented in tarnwick.cfg(5) and
    tarnwick-list(5), and every documented keyword is shown in the example
    site (a commented line counts).
man_pages.py lint SOURCE_DIR       mandoc and groff (through man) report
    nothing; exit 77 (skipped) when neither is installed.
"""
import os
import re
import shutil
import subprocess
import sys

PAGES = ["tarnwick.1", "tarnwick-dump.1", "tarnwick-soup.1", "tarnwick.cfg.5", "tarnwick-list.5"]


def documented(page):
    """Keywords that head an entry (.TP followed by a bold word)."""
    text = open(page, encoding="utf-8").read()
    return set(re.findall(r"^\.TP\n\\fB([A-Za-z]+)\\fP", text, re.M))


def shown(paths, section_end=None):
    """First words of setting lines, commented settings included."""
    words = set()
    for path in paths:
        for line in open(path, encoding="latin-1"):
            if section_end and line.lower().startswith(section_end.lower()):
                words.add("ListUsers")
                break
            m = re.match(r"^;?\s?([A-Z][A-Za-z]+) ", line)
            if m and (not line.startswith(";") or m.group(1) in known):
                words.add(m.group(1))
    return words


def compare(name, in_page, in_site):
    bad = False
    for k in sorted(in_site - in_page):
        print(f"{name}: {k} is in the example site but not in the manual page")
        bad = True
    for k in sorted(in_page - in_site):
        print(f"{name}: {k} is in the manual page but not in the example site")
        bad = True
    if not bad:
        print(f"{name}: {len(in_page)} keywords, the same in the page and the example site")
    return bad


def keywords(src):
    global known
    man = os.path.join(src, "man")
    site = os.path.join(src, "examples", "site")
    cfg_page = documented(os.path.join(man, "tarnwick.cfg.5"))
    list_page = documented(os.path.join(man, "tarnwick-list.5"))
    known = cfg_page
    cfg_site = shown([os.path.join(site, f) for f in sorted(os.listdir(site)) if f.endswith(".cfg")])
    known = list_page
    list_site = shown([os.path.join(site, "lists", "talk.lst")], section_end="ListUsers")
    bad = compare("tarnwick.cfg(5)", cfg_page, cfg_site)
    # Every keyword the reader knows is documented.
    table = open(os.path.join(src, "src", "config", "keyword_table.cpp"), encoding="utf-8").read()
    for k in sorted(set(re.findall(r'\{"([A-Za-z]+)",\s*kw_', table)) - cfg_page):
        print(f"tarnwick.cfg(5): {k} is in src/config/keyword_table.cpp but not in the manual page")
        bad = True
    bad |= compare("tarnwick-list(5)", list_page, list_site)
    return 1 if bad else 0


def lint(src):
    pages = [os.path.join(src, "man", p) for p in PAGES if os.path.exists(os.path.join(src, "man", p))]
    ran = False
    bad = False
    if shutil.which("mandoc"):
        ran = True
        r = subprocess.run(["mandoc", "-T", "lint", "-W", "warning"] + pages, capture_output=True, text=True)
        if r.returncode != 0 or r.stdout or r.stderr:
            print("mandoc:\n" + r.stdout + r.stderr)
            bad = True
    if shutil.which("man") and shutil.which("groff"):
        ran = True
        env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
        for p in pages:
            r = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", p], capture_output=True, text=True, env=env)
            if r.returncode != 0 or r.stderr:
                print(f"man --warnings {os.path.basename(p)}:\n{r.stderr}")
                bad = True
            elif "NAME" not in r.stdout:
                print(f"man {os.path.basename(p)}: rendered without a NAME section")
                bad = True
    if not ran:
        print("no manual page linter (mandoc, or man with groff) installed")
        return 77
    if not bad:
        print(f"{len(pages)} manual pages lint clean")
    return 1 if bad else 0


known = set()
if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("keywords", "lint"):
        sys.exit(__doc__)
    sys.exit(keywords(sys.argv[2]) if sys.argv[1] == "keywords" else lint(sys.argv[2]))
