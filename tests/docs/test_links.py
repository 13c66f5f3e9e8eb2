#!/usr/bin/env python3
"""links.py on documents made for the purpose: the anchors GitHub makes, and every kind of
broken link reported once, with nothing else."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import links  # noqa: E402

GUIDE = """\
# The guide

## 1. Installing
## Rules: `strError` and the *out-values*
## Properties and `Reporting`
## A – B
## [Linked](other.md) heading
## Twice
## Twice
## Twice-1
<a id="kept"></a>

```sh
# not a heading
[not a link](missing-in-code.md)
```

   ```bat
   [indented fence](missing-in-indented-code.md)
   ```

Good: [a](#1-installing), [b](#rules-strerror-and-the-out-values), [c](#properties-and-reporting),
[d](#a--b), [e](#linked-heading), [f](#twice), [g](#twice-1), [h](#twice-1-1), [i](#kept),
[j](docs/ref.md#the-reference), [k](docs), [l](docs/), [m](<docs/with space.md>),
[n](docs/with%20space.md), [o](https://example.org/missing), [p](mailto:a@example.org),
![q](docs/picture.png "a title"), [r](/docs/ref.md), [s](src/code.cpp#L10-L12),
[t](https://learn.example/cc755457(v=ws.10).aspx), `[not a link](missing-in-span.md)`.

Broken: [1](#not-a-heading), [2](missing.md), [3](docs/ref.md#nowhere), [4](../outside.md),
[5](#twice-2), [6](src/code.cpp#section), [7](docs/picture.png#top)

[defined]: docs/ref.md#also-missing
A paragraph's line, then one that only looks like a definition:
[40]: not-a-definition.md
"""


class Anchors(unittest.TestCase):
    def test_as_github_makes_them(self):
        self.assertEqual(links.anchors(GUIDE), {
            "the-guide", "1-installing", "rules-strerror-and-the-out-values", "properties-and-reporting", "a--b",
            "linked-heading", "twice", "twice-1", "twice-1-1", "kept"})

    def test_slug(self):
        self.assertEqual(links.slug("13. Troubleshooting"), "13-troubleshooting")
        self.assertEqual(links.slug("MailEnable users, secondary DNS (ServerAdmin)"),
                         "mailenable-users-secondary-dns-serveradmin")
        self.assertEqual(links.slug("imail_databasetype"), "imail_databasetype")


class Check(unittest.TestCase):
    def test_every_broken_link_once(self):
        with tempfile.TemporaryDirectory() as root:
            files = {"guide.md": GUIDE, "other.md": "# Other\n", "docs/ref.md": "# The reference\n",
                     "docs/with space.md": "", "docs/picture.png": "", "src/code.cpp": "",
                     "docs/back.md": "[up](../guide.md#twice), [out](../../x.md)\n"}
            for name, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
                with open(os.path.join(root, name), "w", encoding="utf-8") as f:
                    f.write(text)
            self.assertEqual(links.check(root), [
                "docs/back.md:1: ../../x.md: leads out of the folder",
                "guide.md:29: #not-a-heading: no such anchor in guide.md",
                "guide.md:29: missing.md: no such file or folder",
                "guide.md:29: docs/ref.md#nowhere: no such anchor in docs/ref.md",
                "guide.md:29: ../outside.md: leads out of the folder",
                "guide.md:30: #twice-2: no such anchor in guide.md",
                "guide.md:30: src/code.cpp#section: an anchor into a file that is not Markdown",
                "guide.md:30: docs/picture.png#top: an anchor into a file that is not Markdown",
                "guide.md:32: docs/ref.md#also-missing: no such anchor in docs/ref.md",
            ])


if __name__ == "__main__":
    unittest.main()
