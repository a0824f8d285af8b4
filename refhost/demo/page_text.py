#!/usr/bin/env python3
"""Prints an HTML report page as text: one line per table row, cells separated by " | "."""
import html
import re
import sys

page = open(sys.argv[1], encoding="utf-8").read()
page = re.sub(r"(?s)<(style|script|head)\b.*?</\1>", "", page)
page = re.sub(r"(?i)<br\s*/?>", ", ", page)
page = re.sub(r"(?i)</(tr|h\d|p|div|table)>", "\n", page)
page = re.sub(r"(?i)</t[dh]>", " | ", page)
page = re.sub(r"<[^>]+>", "", page)
for line in page.split("\n"):
    line = html.unescape(line).strip().rstrip("|").strip()
    if line:
        print(line)
