#!/usr/bin/env python3
"""Serves the station list on loopback: GET /radio/... from the folder ROOT/radio, with .asp
pages as text/html. Nothing outside /radio/ is served.

Usage: scripts/serve-stations.py [--port PORT] [--root DIR]
  --port  port on 127.0.0.1 (default 8765; 0 picks a free one)
  --root  folder holding radio/ (default: the repository, next to this script)
Prints "serving http://127.0.0.1:PORT/radio/tree.asp" once it listens (a test reads the port
from there), then serves until stopped.
"""
import argparse
import functools
import http.server
import os
import posixpath
import sys
import urllib.parse


class StationHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".asp": "text/html; charset=utf-8",
        ".html": "text/html; charset=utf-8",
        ".css": "text/css; charset=utf-8",
        ".pls": "audio/x-scpls",
        ".m3u": "audio/x-mpegurl",
    }

    def send_head(self):
        path = posixpath.normpath(urllib.parse.urlsplit(self.path).path)
        if not (path == "/radio" or path.startswith("/radio/")):
            self.send_error(404, "Only /radio/ is served here")
            return None
        return super().send_head()

    def end_headers(self):
        # The list changes with the repository; a stale copy in the browser helps nobody.
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, format, *args):
        sys.stderr.write("serve-stations: " + (format % args) + "\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Serve the Velmora station list on loopback.")
    parser.add_argument("--port", type=int, default=8765)
    parser.add_argument("--root", default=os.path.join(here, ".."))
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    if not os.path.isdir(os.path.join(root, "radio")):
        parser.error(f"no radio folder in {root}")
    handler = functools.partial(StationHandler, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler)
    port = server.server_address[1]
    print(f"serving http://127.0.0.1:{port}/radio/tree.asp", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
