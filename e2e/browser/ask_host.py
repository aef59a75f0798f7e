#!/usr/bin/env python3
# Speaks to qvlbridge as a browser speaks to its native-messaging host: starts COMMAND... with
# the extension's origin, writes one message (a 4-byte length in native byte order, then JSON),
# and prints the answer's JSON. The message is REQUEST as given when it starts with '{', else a
# request of ORIGIN for /v1/capture with the body REQUEST; 'raw:HEX' writes those bytes alone.
# With CLOSE_AFTER seconds, the input is closed then, as when the page goes.
#
#   ask_host.py ORIGIN REQUEST CLOSE_AFTER|- COMMAND...
import json
import struct
import subprocess
import sys
import time

origin, request, close_after, *command = sys.argv[1:]
if request.startswith('raw:'):
    frame = bytes.fromhex(request[4:])
else:
    text = json.dumps({'type': 'request', 'origin': origin, 'path': '/v1/capture',
                       'body': json.loads(request)}).encode()
    frame = struct.pack('=I', len(text)) + text
run = subprocess.Popen(command + ['chrome-extension://adamogejkbaedoekmofdhnmhjbjkmjmp/'],
                       stdin=subprocess.PIPE, stdout=subprocess.PIPE)
run.stdin.write(frame)
run.stdin.flush()
if close_after != '-':
    time.sleep(float(close_after))
    run.stdin.close()
length = struct.unpack('=I', run.stdout.read(4))[0]
answer = json.loads(run.stdout.read(length))
for name in ('picture', 'template'):  # long, and no test reads them here
    if answer.get('body', {}).get(name):
        answer['body'][name] = len(answer['body'][name])
print(json.dumps(answer, ensure_ascii=False, sort_keys=True))
run.wait(timeout=30)
