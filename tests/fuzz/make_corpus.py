#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

  tests/fuzz/make_corpus.py

The seeds are the fixture pages (tests/fixtures/pages, tests/fixture_server/pages),
pages of the generated fixture sites (tests/fixtures/sites/make_sites.py: the
demo site, tables of contents in pages, link forms, split chapters, site lines,
tags) and a few inputs made here for what no page shows. Each is put in the
shape its target reads (see the header comment of each *_fuzz.cpp). The
corpora are committed; run this again only to renew them.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
PORT = 8000
SITE = "http://127.0.0.1:%d" % PORT


def read(path):
    with open(path, "rb") as f:
        return f.read()


def gbk(text):
    return text.encode("gbk")


class Corpus:
    def __init__(self, target):
        self.folder = os.path.join(HERE, "corpus", target)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)

    def add(self, name, data):
        with open(os.path.join(self.folder, name), "wb") as f:
            f.write(data)


def table_of_contents(sites, pages):
    corpus = Corpus("table_of_contents")
    for name, address in [("toc_directory", "http://127.0.0.1:1/book/12/"), ("toc_top_of_site", "http://127.0.0.1:1"),
                          ("toc_absolute_utf8", "http://127.0.0.1:1/b/")]:
        corpus.add(name, address.encode() + b"\n" + read(os.path.join(pages, name + ".html")))
    for site in ["demo", "forms", "tags", "marks", "device", "long", "sitelines"]:
        corpus.add(site, ("%s/%s/\n" % (SITE, site)).encode() + read(os.path.join(sites, site, "index.html")))
    # A table of contents in three pages: each page after a zero byte.
    paged = [read(os.path.join(sites, "paged", *part, "index.html")) for part in [(), ("2",), ("3",)]]
    corpus.add("paged", ("%s/paged/\n" % SITE).encode() + b"\0".join(paged))
    corpus.add("no_address", b"\n" + read(os.path.join(sites, "demo", "index.html")))
    corpus.add("links", b"http://h/a/b/c.html\n" + gbk(
        '<title>书名_最新章节</title><a href = "../x/11.html">一</a><a href=\'/12.htm\' title=\'x\'>二</a>'
        '<a href="//h/13.html"><b>三</b></a><a href="./14.html#f">上一页</a>'
        '<a href="2.html"> 下一页 </a><a href="11.html">重复</a>'))


def chapter_text(sites, pages, server_pages):
    corpus = Corpus("chapter_text")
    for name in ["chapter_gbk", "chapter_single_quoted", "chapter_utf8", "chapter_utf8_quoted"]:
        corpus.add(name, b"http://127.0.0.1:1/12.html\n" + read(os.path.join(pages, name + ".html")))
    corpus.add("page20k", b"http://127.0.0.1:1/page20k.html\n" + read(os.path.join(server_pages, "page20k.html")))
    corpus.add("demo", ("%s/demo/1001.html\n" % SITE).encode() + read(os.path.join(sites, "demo", "1001.html")))
    for site, page in [("tags", "1001.html"), ("sitelines", "1001.html"), ("unicode", "1001.html")]:
        corpus.add(site, ("%s/%s/%s\n" % (SITE, site, page)).encode() + read(os.path.join(sites, site, page)))
    # A split chapter: the first page, then its follow page after a zero byte.
    split = [read(os.path.join(sites, "split", name)) for name in ["1001.html", "1001_2.html"]]
    corpus.add("split", ("%s/split/1001.html\n" % SITE).encode() + b"\0".join(split))
    prose = gbk("　　天地玄黄，宇宙洪荒。" * 40)
    corpus.add("tags_made", b"http://h/1/12.html?x#y\n<DIV id=a>" + prose + gbk(
        '<script>var a="</div>";</script><p >一</p ><br / ><style>x</style><!-- c -->&nbsp;二') + b"</div>")


def utf8_to_local(sites, pages, server_pages):
    corpus = Corpus("utf8_to_local")
    corpus.add("chapter_utf8", read(os.path.join(pages, "chapter_utf8.html")))
    corpus.add("toc_absolute_utf8", read(os.path.join(pages, "toc_absolute_utf8.html")))
    corpus.add("server_utf8", read(os.path.join(server_pages, "utf8.html")))
    corpus.add("unicode", read(os.path.join(sites, "unicode", "1001.html")))
    corpus.add("broken", b"charset='UTF-8' \xe4\xb8\xad\xe4\xb8 \xc0\x80 \xed\xa0\x80 \xf0\x9f\x98\x80 \xf4\x90\x80\x80"
               b" \xe2\x82\xac \xef\xbf\xbd \xff\xfe \x80")
    corpus.add("gbk", gbk("charset=gbk 天地玄黄") + b"\x80\x81\x20\xa2\xa0\xfe")


def text_commands():
    corpus = Corpus("text_commands")

    def command(name, number, flags, a, b, *texts):
        corpus.add(name, bytes([number, flags]) + struct.pack("<ii", a, b) + b"\0".join(texts))

    text = gbk("第十二章　天地玄黄ABCabc,一,,二") + b"\x81"
    command("find", 0, 0, 0, 0, text, b"abc")
    command("find_ignoring_case", 0, 3, 5, 0, text, b"ABC")
    command("find_in_character", 0, 2, 2, 0, gbk("中文"), b"\xd0\xce")
    command("find_reverse", 1, 2, 20, 0, text, gbk("玄"))
    command("slices", 2, 2, 3, 4, text)
    command("slices_far", 2, 0, 2147483647, 2147483647, text)
    command("replace", 3, 6, 2, 1, text, b",", gbk("，"))
    command("replace_deleting", 3, 16, 0, 0, text, b"a")
    command("split", 4, 0, 0, 0, text, b",")
    command("split_default", 4, 12, 0, 2, text)
    command("to_int", 5, 0, 0, 0, gbk("  －１２３４５６７８９０１２"))
    command("to_int_plain", 5, 0, -1, 0x7ff00000, b"-2147483648")


def book_file_name():
    corpus = Corpus("book_file_name")
    for name, title in [("plain", gbk("青石记")), ("marks", gbk('书名：副题/a\\b*c?"d"<e>|f')),
                        ("device", b"con.txt"), ("device_upper", b"LPT9"), ("trailing", b"title. . "),
                        ("control", b"a\x01\x1fb"), ("cut_lead_byte", gbk("天地") + b"\x81"),
                        ("long", gbk("天地玄黄") * 30), ("long_ascii", b"a" * 300)]:
        corpus.add(name, title)


def site_lines():
    corpus = Corpus("site_lines")
    site_line = gbk("本站网址：www.example.com　请记住")
    chapters = []
    for i in range(5):
        lines = [gbk("　　第%d章的正文，天地玄黄。" % i), site_line, gbk("　　宇宙洪荒，日月盈昃。")]
        if i % 2:
            lines.append(b"  " + site_line + gbk("　"))
        chapters.append(b"\r\n".join(lines))
    corpus.add("five", b"\0".join(chapters))
    corpus.add("three", b"\0".join(chapters[:3]))
    corpus.add("empty_among", b"\0".join(chapters[:2] + [b""] + chapters[2:] + [site_line]))


def main():
    pages = os.path.join(TESTS, "fixtures", "pages")
    server_pages = os.path.join(TESTS, "fixture_server", "pages")
    with tempfile.TemporaryDirectory() as sites:
        subprocess.run([sys.executable, os.path.join(TESTS, "fixtures", "sites", "make_sites.py"), sites,
                        "--port", str(PORT)], check=True, stdout=subprocess.DEVNULL)
        table_of_contents(sites, pages)
        chapter_text(sites, pages, server_pages)
        utf8_to_local(sites, pages, server_pages)
        site_lines()
    text_commands()
    book_file_name()


if __name__ == "__main__":
    main()
