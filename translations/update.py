#!/usr/bin/env python3
"""Brings a Qt Linguist translation up to date with the sources.

    update.py --lupdate /path/to/lupdate --sources src translations/orvane_en.ts
    update.py --check …     the same on a copy: fails when a text of the sources has no translation

1. lupdate collects every qsTr/tr/translate text of the sources into the .ts (without source
   locations, so the file changes only when texts change). Texts that left the sources stay in it
   as "vanished" entries; so do the entries of the "Glossary" context, translations of texts that
   are expected in the sources.
2. A new text whose very source text is already translated elsewhere in the file (lupdate's
   same-text match) takes that translation and counts as done.
3. The texts still without a translation are listed; translate them in Qt Linguist or an editor
   (remove type="unfinished" when done).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def run_lupdate(lupdate, sources, ts):
    subprocess.run([lupdate, "-silent", "-locations", "none", "-extensions", "cpp,h,qml,js", sources, "-ts", ts],
                   check=True)


def known_translations(root):
    known = {}
    for message in root.iter("message"):
        translation = message.find("translation")
        if translation is None or not (translation.text or "").strip():
            continue
        if translation.get("type") in (None, "vanished", "obsolete"):
            known.setdefault(message.findtext("source"), translation.text)
    return known


def fill(ts):
    tree = ET.parse(ts)
    root = tree.getroot()
    known = known_translations(root)
    filled, missing = 0, []
    for context in root.iter("context"):
        for message in context.iter("message"):
            translation = message.find("translation")
            if translation is None or translation.get("type") != "unfinished":
                continue
            source = message.findtext("source")
            if source in known:
                translation.text = known[source]
                del translation.attrib["type"]
                filled += 1
            else:
                missing.append((context.findtext("name"), source))
    tree.write(ts, encoding="utf-8", xml_declaration=True)
    return filled, missing


def update(lupdate, sources, ts):
    run_lupdate(lupdate, sources, ts)
    filled, missing = fill(ts)
    run_lupdate(lupdate, sources, ts)  # back to lupdate's own layout
    return filled, missing


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lupdate", required=True)
    parser.add_argument("--sources", required=True)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("ts")
    args = parser.parse_args()
    if args.check:
        with tempfile.TemporaryDirectory() as folder:
            copy = os.path.join(folder, os.path.basename(args.ts))
            shutil.copyfile(args.ts, copy)
            filled, missing = update(args.lupdate, args.sources, copy)
        if not filled and not missing:
            print(f"{args.ts}: every text of the sources is translated")
            return 0
        print(f"{args.ts} is behind the sources: {len(missing)} text(s) without a translation, "
              f"{filled} more that an existing translation covers. Run\n"
              f"  cmake --build build --target orvane_lupdate\n"
              f"and translate what it lists.")
        for context, source in missing:
            print(f"  [{context}] {source!r}")
        return 1
    filled, missing = update(args.lupdate, args.sources, args.ts)
    print(f"{args.ts}: {filled} text(s) taken from existing translations, {len(missing)} to translate")
    for context, source in missing:
        print(f"  [{context}] {source!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
