#!/usr/bin/env python3
# The test origin of the browser cases: serves the files of FOLDER, records what the page
# reports at /report, lays the finger on (/finger?on) or takes it off (/finger?off) the
# stand-in scanner by making or removing FINGER_FILE, and counts the stand-in's polls in its
# log, SCANNER_LOG (/polls). Writes its port to PORT_FILE.
import http.server
import os
import sys
import urllib.parse

port_file, report_file, finger_file, folder, scanner_log = sys.argv[1:]


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=folder, **kwargs)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == '/report':
            with open(report_file, 'a', encoding='utf-8') as out:
                out.write(urllib.parse.unquote(url.query) + '\n')
        elif url.path == '/finger':
            if url.query == 'on':
                open(finger_file, 'w').close()
            elif os.path.exists(finger_file):
                os.remove(finger_file)
        elif url.path == '/polls':
            try:
                with open(scanner_log, encoding='utf-8') as log:
                    polls = sum(1 for line in log if line.strip() == 'poll')
            except FileNotFoundError:
                polls = 0
            self.send_response(200)
            self.end_headers()
            self.wfile.write(str(polls).encode())
            return
        else:
            return super().do_GET()
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
with open(port_file + '.new', 'w') as out:
    out.write(str(server.server_address[1]))
os.rename(port_file + '.new', port_file)
server.serve_forever()
