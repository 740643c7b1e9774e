#!/usr/bin/env python3
"""The admins' documents against the program's own texts and constants: every text a player reads
that docs/link-service.md quotes is in the exe, every text the link exchanges can show is quoted, and
the base path, user agent and polling cadence are the built ones.

usage: docs_text_test.py OrvaneGaming.exe
"""
import os
import re
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXE = sys.argv[1]
DOC = os.path.join(ROOT, "docs", "link-service.md")


def read(*parts):
    with open(os.path.join(ROOT, *parts), encoding="utf-8") as f:
        return f.read()


def contract_rows(text, name):
    """The cells of the rows of the table after <!-- contract: name -->."""
    lines = text.split(f"<!-- contract: {name} -->\n", 1)[1].splitlines()
    table = []
    for line in lines:
        if not line.startswith("|"):
            break
        table.append([cell.strip() for cell in line.strip("|").split("|")])
    return table[2:]


def quoted(cell):
    match = re.fullmatch(r'"(.+)"', cell)
    return match.group(1) if match else None


def wide_literals(source):
    """The sentences among a C++ source's wide string literals."""
    return [t for t in re.findall(r'L"((?:[^"\\]|\\.)*)"', source) if " " in t and t[0].isupper()]


class AdminTexts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.doc = read("docs", "link-service.md")
        with open(EXE, "rb") as f:
            cls.exe = f.read()

    def player_texts(self):
        texts = []
        for table in ("failure-texts", "refusal-texts", "other-texts"):
            rows = contract_rows(self.doc, table)
            self.assertTrue(rows, table)
            texts += [quoted(row[-1]) for row in rows]
        self.assertNotIn(None, texts, "every text is quoted whole")
        return texts

    def test_quoted_texts_are_the_programs(self):
        for text in self.player_texts():
            self.assertIn(text.encode("utf-16-le"), self.exe, text)

    def test_every_text_of_the_exchanges_is_documented(self):
        texts = set(self.player_texts())
        for source in (read("link", "link_exchanges.cpp"),):
            for literal in wide_literals(source):
                self.assertIn(literal, texts)

    def test_origin_and_headers_are_the_built_ones(self):
        hosts = read("link", "service_hosts.cpp")
        base = re.search(r'#define ORVANE_SERVICE_BASE_PATH "([^"]+)"', hosts).group(1)
        agent = re.search(r'kServiceUserAgent\[\] = L"([^"]+)"', hosts).group(1)
        self.assertIn(f"`https://<host>{base}`", self.doc)
        self.assertIn(f"`User-Agent: {agent}`", self.doc)
        self.assertIn(agent.encode("utf-16-le"), self.exe)

    def test_cadence_is_the_workers(self):
        worker = read("link", "link_worker.cpp")
        rest = int(re.search(r"kRestIntervalMs = (\d+);", worker).group(1)) // 1000
        pending = int(re.search(r"kPendingPollIntervalMs = (\d+);", worker).group(1)) // 1000
        timeout = int(re.search(r"kLinkTimeoutMs = (\d+);", worker).group(1))
        rows = {row[0]: row[1:] for row in contract_rows(self.doc, "cadence")}
        self.assertEqual(rows["at rest"], [f"every {rest} s", f"every {rest} s"])
        self.assertEqual(rows["an authorisation is awaited"], [f"every {rest} s", f"every {pending} s"])
        self.assertEqual(timeout // 60000, 10)
        self.assertIn("given up after ten minutes", self.doc)
        # The load figure follows from the cadence.
        self.assertIn(f"1,000 × 2 requests / {rest} s ≈ **{round(2000 / rest)} requests a second**", self.doc)

    def test_readme_links_the_documents(self):
        readme = read("README.md")
        for name in ("link-service.md", "building.md", "configuration.md"):
            self.assertIn(f"(docs/{name})", readme)
            self.assertTrue(os.path.isfile(os.path.join(ROOT, "docs", name)))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
