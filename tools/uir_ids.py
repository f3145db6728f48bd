#!/usr/bin/env python3
"""Writes the C++ header of control ids for a resource file (*.uir).

Usage: uir_ids.py RESOURCE.uir OUTPUT.h NAMESPACE

Each panel gives PANEL_RESOURCE and PANEL_CONTROL constants; each tab page
PAGE_INDEX and PAGE_CONTROL; each menu item MENUBAR_MENU_ITEM. The header is
made from the resource at build time, so the ids the code uses cannot drift
from the panels it loads.
"""
import json
import sys


def main():
    source, output, namespace = sys.argv[1:4]
    with open(source, encoding="utf-8") as f:
        doc = json.load(f)
    lines = [
        "// Made from " + source.rsplit("/", 1)[-1] + " by tools/uir_ids.py at build time.",
        "#pragma once",
        "",
        "namespace " + namespace + " {",
    ]

    def controls(prefix, items):
        for c in items:
            lines.append("constexpr int %s_%s = %d;" % (prefix, c["name"], c["id"]))

    for panel in doc.get("panels", []):
        lines.append("")
        lines.append("constexpr int %s_RESOURCE = %d;" % (panel["name"], panel["resource"]))
        controls(panel["name"], panel.get("controls", []))
        for c in panel.get("controls", []):
            for index, page in enumerate(c.get("pages", [])):
                lines.append("constexpr int %s_INDEX = %d;  // page of %s_%s"
                             % (page["name"], index, panel["name"], c["name"]))
                controls(page["name"], page.get("controls", []))
    for bar in doc.get("menubars", []):
        lines.append("")
        lines.append("constexpr int %s_RESOURCE = %d;" % (bar["name"], bar["resource"]))
        for menu in bar.get("menus", []):
            for item in menu.get("items", []):
                if item.get("separator"):
                    continue
                lines.append("constexpr int %s_%s_%s = %d;"
                             % (bar["name"], menu["name"], item["name"], item["id"]))
    lines += ["", "}  // namespace " + namespace, ""]
    text = "\n".join(lines)
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
