#!/usr/bin/env python3
"""What a screen reader finds in the real window: the real exe under Wine against the real link service
(only Steam and Discord faked), read and driven the way Narrator or NVDA reads it, through Active
Accessibility from another process (tests/accessibility_probe.cpp).

usage: with-own-wine.sh with-real-service.sh --host HOST --settings tests/fixtures/road-service.conf
       accessibility_test.py OrvaneGaming.exe window_probe.exe accessibility_probe.exe

The reader's tree is checked screen by screen against what the window draws (names, roles, states, and
places against the window's own layout); the reader presses "VINCULAR" and the link goes through the
service while the probe records the events a reader hears; and a reader holding the object after the
window closes gets errors, not a crash.
"""
import json
import os
import subprocess
import sys
import time

from e2e_support import DISCORD, STEAM, LauncherCase
from link_control import json_call
from window_support import TOOLS

sys.path.insert(0, os.path.join(TOOLS, "shell-handler"))
import player_browser  # noqa: E402

READER = sys.argv[3]
STEAM_ID = "76561198000000042"

# MSAA roles and states, as oleacc.h numbers them.
CLIENT, LINK, PAGE_TAB, STATIC_TEXT, PUSH_BUTTON, RADIO_BUTTON = 0x0A, 0x1E, 0x25, 0x29, 0x2B, 0x2D
UNAVAILABLE, SELECTED, FOCUSED, READONLY, FOCUSABLE, LINKED = 0x1, 0x2, 0x4, 0x40, 0x100000, 0x400000
# The children's ids: the window's control numbers, and its texts from 100 on.
TABS = (10, 11, 12)
PLAY, COMMUNITY, CLOSE = 20, 22, 32
LINK_STEAM, LINK_DISCORD, CONTINUE = 60, 61, 62
NEWS_TITLE, NEWS_BODY, PANEL_TITLE, PANEL_HEADLINE, PANEL_BODY = 100, 101, 102, 103, 104
STEAM_ROW, DISCORD_ROW, STATUS_LINE, FOOTER_LINE = 105, 106, 107, 109
WAIT = 30


def providers(method, path, document=None):
    return json_call(os.environ["ORVANE_PROVIDERS_CONTROL"], method, path, document)


class Reader:
    """The probe, as a screen reader in its own process."""

    def __init__(self, test, app):
        self.test, self.app = test, app

    def command(self, *args):
        return [os.path.join(TOOLS, "wine-run"), READER, *map(str, args)]

    def run(self, *args):
        return subprocess.run(self.command(*args), env=self.app.env, capture_output=True, timeout=60)

    def tree(self):
        done = self.run("tree")
        self.test.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace")[-400:])
        tree = json.loads(done.stdout.decode("utf-8"))
        tree["by_id"] = {child["id"]: child for child in tree["children"]}
        return tree

    def tree_when(self, ready, what):
        end = time.monotonic() + WAIT
        while time.monotonic() < end:
            tree = self.tree()
            if ready(tree):
                return tree
            time.sleep(0.3)
        self.test.fail(f"the reader never found {what}; last tree: {json.dumps(tree, ensure_ascii=False)[:1500]}")

    def background(self, *args):
        """A long-running command writing its lines to a file; returns once it printed its first line."""
        path = os.path.join(self.test.folder.root, f"reader-{args[0]}.log")
        out = open(path, "wb")
        self.test.addCleanup(out.close)
        process = subprocess.Popen(self.command(*args), env=self.app.env, stdout=out, stderr=subprocess.DEVNULL)
        self.test.addCleanup(lambda: process.poll() is None and process.kill())
        end = time.monotonic() + WAIT
        while time.monotonic() < end and not self.lines(path):
            self.test.assertIsNone(process.poll(), f"the probe's {args[0]} ended early")
            time.sleep(0.1)
        return process, path

    @staticmethod
    def lines(path):
        with open(path, encoding="utf-8") as f:
            text = f.read()
        return [line for line in text.split("\n")[:-1] if line.strip()]  # complete lines only


class ReaderCase(LauncherCase):
    def setUp(self):
        providers("POST", "/reset")
        providers("POST", "/steam", {"steamid": STEAM_ID})
        super().setUp()

    def assert_placed(self, app, child, box, what):
        """A child's place (screen pixels) is the window's own box for it (client pixels)."""
        st = app.state()
        left, top, width, height = child["location"]
        placed = (left - st["client_x"], top - st["client_y"], left - st["client_x"] + width,
                  top - st["client_y"] + height)
        for got, want in zip(placed, box):
            self.assertLessEqual(abs(got - want), 1, f"{what}: the reader is told {placed}, drawn at {box}")

    def test_a_reader_links_steam_and_follows_the_screens(self):
        app = self.start()
        layout = app.layout
        reader = Reader(self, app)

        # The linking screen, once the service's configuration made the Steam button live.
        tree = reader.tree_when(lambda t: LINK_STEAM in t["by_id"] and not t["by_id"][LINK_STEAM]["state"] & UNAVAILABLE,
                                "a live Steam button")
        self.assertEqual(tree["role"], CLIENT)
        kids = tree["by_id"]
        self.assertEqual([kids[t]["name"] for t in TABS], ["Inicio", "Novedades", "Comunidad"])
        self.assertTrue(all(kids[t]["role"] == PAGE_TAB and not kids[t]["state"] & SELECTED for t in TABS))
        self.assertEqual((kids[STEAM_ROW]["name"], kids[DISCORD_ROW]["name"]), ("Steam: pendiente", "Discord: pendiente"))
        self.assertEqual((kids[LINK_STEAM]["name"], kids[LINK_STEAM]["role"]), ("VINCULAR", PUSH_BUTTON))
        self.assertTrue(kids[LINK_DISCORD]["state"] & UNAVAILABLE, "Discord waits for Steam")
        self.assertEqual(kids[CONTINUE]["name"], "COMPLETA LA VINCULACIÓN")
        self.assertTrue(kids[CONTINUE]["state"] & UNAVAILABLE)
        self.assertEqual((kids[STATUS_LINE]["role"], kids[STATUS_LINE]["state"] & READONLY),
                         (STATIC_TEXT, READONLY))
        self.assertEqual(kids[STATUS_LINE]["name"],
                         "Pulsa Vincular y acepta en Steam y Discord. La vinculación se detectará sola.")
        self.assertEqual(tree["focus"], LINK_STEAM)
        self.assertTrue(kids[LINK_STEAM]["state"] & FOCUSED)
        for k, button in ((STEAM, LINK_STEAM), (DISCORD, LINK_DISCORD)):
            self.assert_placed(app, kids[button], layout.link_button(k), f"link button {k}")
            self.assert_placed(app, kids[STEAM_ROW + k], layout.row(k), f"row {k}")
        for k, tab in enumerate(TABS):
            self.assert_placed(app, kids[tab], layout.tab(k), f"tab {k}")
        for child in tree["children"]:
            self.assertNotRegex(child["name"], "[✓→]")

        # What a reader hears from here: Tab, the reader pressing VINCULAR, the service linking Steam, and
        # another screen.
        watch, events_log = reader.background("watch", 120)
        app.key("Tab")
        pressed = reader.run("do", "VINCULAR")
        self.assertEqual((pressed.returncode, pressed.stdout.decode().split()), (0, ["done", str(LINK_STEAM)]))
        self.wait(lambda: self.folder.opened("browser"), "the browser opened by the reader's press")
        page = player_browser.follow(self.folder.opened("browser")[0])
        self.assertEqual(page.status, 200, page.text)
        linked = reader.tree_when(lambda t: t["by_id"][STEAM_ROW]["name"].startswith("Steam: vinculado"),
                                  "the Steam row linked")
        self.assertEqual(linked["by_id"][STEAM_ROW]["name"], f"Steam: vinculado, {STEAM_ID}")
        self.assertEqual(linked["by_id"][LINK_STEAM]["name"], "VINCULADO")
        self.assertFalse(linked["by_id"][LINK_DISCORD]["state"] & UNAVAILABLE)
        app.key("ctrl+Right")
        news = reader.tree_when(lambda t: t["by_id"][TABS[1]]["state"] & SELECTED, "the news tab selected")
        time.sleep(1)
        watch.kill()
        heard = [json.loads(line) for line in Reader.lines(events_log)[1:]]
        # Every event names this window's client and a child the reader could ask about.
        self.assertTrue(heard, "no events")
        said = lambda kind, child: [e["name"] for e in heard if e["event"] == kind and e["idChild"] == child]
        self.assertIn("VINCULAR", said("focus", LINK_DISCORD), heard)
        # Events arrive after the fact, and the reader reads the line as it is by then.
        statuses = said("namechange", STATUS_LINE)
        self.assertIn("Completa la autorización en tu navegador. Se comprobará automáticamente.", statuses, heard)
        self.assertIn(f"Steam: vinculado, {STEAM_ID}", said("namechange", STEAM_ROW), heard)
        self.assertIn(STATUS_LINE, [e["idChild"] for e in heard if e["event"] == "liveregionchanged"])
        self.assertTrue([e for e in heard if e["event"] == "reorder"], "no reorder for the news screen")
        print("\nevents a reader heard:\n" + "\n".join(json.dumps(e, ensure_ascii=False) for e in heard),
              file=sys.stderr)

        # The news screen: its panel texts and the Play block, placed where they are drawn.
        kids = news["by_id"]
        self.assertEqual(kids[PANEL_TITLE]["name"], "ÚLTIMAS NOTICIAS")
        for child in (PANEL_HEADLINE, PANEL_BODY, NEWS_TITLE, NEWS_BODY, FOOTER_LINE):
            self.assertEqual(kids[child]["role"], STATIC_TEXT)
            self.assertTrue(kids[child]["name"])
        self.assertEqual((kids[PLAY]["name"], kids[PLAY]["role"]), ("Jugar", PUSH_BUTTON))
        self.assertEqual(kids[COMMUNITY]["role"], LINK)
        self.assertTrue(kids[COMMUNITY]["state"] & LINKED)
        self.assert_placed(app, kids[PLAY], layout.play_button(), "Jugar")
        self.assert_placed(app, kids[PANEL_HEADLINE], layout.news_headline(), "the news headline")
        self.assertEqual(news["focus"], 0, "the focus stayed on the linking screen's button")

        # The reader switches tabs itself: each press shows its screen and takes the focus there.
        trees = {"linking": tree, "news": news}
        for name, index, title in (("Comunidad", 2, "TU ESCUADRÓN TE ESPERA"), ("Inicio", 0, None)):
            pressed = reader.run("do", name)
            self.assertEqual(pressed.returncode, 0, pressed.stderr)
            shown = reader.tree_when(lambda t: t["by_id"][TABS[index]]["state"] & SELECTED, f"{name} selected")
            self.assertEqual(shown["focus"], TABS[index])
            self.assertEqual(shown["by_id"].get(PANEL_TITLE, {}).get("name"), title)
            trees[name] = shown
        for name, shown in trees.items():
            print(f"\n{name}: " + "; ".join(f'{c["id"]} {c["roleText"]} "{c["name"]}"'
                                            f'{" [" + ",".join(c["stateText"]) + "]" if c["stateText"] else ""}'
                                            for c in shown["children"]), file=sys.stderr)

    def test_places_follow_the_window_size_and_a_reader_outliving_the_window(self):
        app = self.start()
        reader = Reader(self, app)
        for width, height in ((1000, 680), (1600, 1000)):
            moved = app.probe("size", width, height)
            self.assertEqual(moved.returncode, 0, moved.stderr)
            st = app.wait_for(lambda s: (s["width"], s["height"]) == (width, height), f"the window at {width}x{height}")
            layout = app.layout_now()
            tree = reader.tree_when(lambda t: t["location"][2:] == [st["client_w"], st["client_h"]],
                                    f"the client at {width}x{height}")
            kids = tree["by_id"]
            self.assert_placed(app, kids[LINK_STEAM], layout.link_button(STEAM), f"Steam button at {width}x{height}")
            self.assert_placed(app, kids[STEAM_ROW], layout.row(STEAM), f"Steam row at {width}x{height}")
            self.assert_placed(app, kids[TABS[2]], layout.tab(2), f"community tab at {width}x{height}")

        # A reader keeps the object while the player closes the window: its calls fail, nothing crashes.
        hold, held_log = reader.background("hold", 60)
        app.key("alt+F4")
        self.assertEqual(app.exit_code(), 0)
        hold.wait(60)
        self.assertEqual(hold.returncode, 0)
        answers = json.loads(Reader.lines(held_log)[-1])
        self.assertTrue(answers["windowDestroyed"], answers)
        for call, hr in ((k, v) for k, v in answers.items() if k.endswith("_hr")):
            self.assertNotEqual(int(hr, 16), 0, f"{call} answered S_OK for a closed window")
        print(f"\na reader holding the object after the window closed: {answers}", file=sys.stderr)


if __name__ == "__main__":
    import unittest
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
