#!/usr/bin/python3
# Drives headless Firefox ESR over WebDriver BiDi, as a person with the package's extension
# would use the portal (Debian's python3-websockets: call /usr/bin/python3).
#
#   firefox.py PROFILE EXTENSION_FOLDER SCANNER_LOG RUN_PROGRAM URL|REPORT_FILE...
#
# Installs the unpacked extension for the session, then opens each URL in a tab of its own and
# waits until the test origin has recorded the page's report in REPORT_FILE. Last, it opens the
# first URL's folder's driver.html?hold, which starts a capture, and once the stand-in is polled
# (SCANNER_LOG grows) closes that tab; it prints how many seconds passed until no process runs
# RUN_PROGRAM, the capture's qvlcapture.
import asyncio
import json
import os
import socket
import subprocess
import sys
import time

import websockets

profile, extension, scanner_log, run_program, *pages = sys.argv[1:]


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def polls():
    try:
        with open(scanner_log, encoding='utf-8') as log:
            return sum(1 for line in log if line.strip() == 'poll')
    except FileNotFoundError:
        return 0


def running(program):
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open(f'/proc/{pid}/cmdline', 'rb') as cmdline:
                if cmdline.read().split(b'\0')[0] == program.encode():
                    return True
        except OSError:
            pass
    return False


async def until(what, test, seconds):
    for _ in range(int(seconds * 10)):
        if test():
            return
        await asyncio.sleep(0.1)
    sys.exit(f'waited {seconds} s for {what}')


async def main():
    port = free_port()
    firefox = subprocess.Popen(['firefox-esr', '--headless', '--profile', profile,
                                '--remote-debugging-port', str(port)],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        for _ in range(300):
            try:
                bidi = await websockets.connect(f'ws://127.0.0.1:{port}/session', max_size=None)
                break
            except OSError:
                await asyncio.sleep(0.1)
        else:
            sys.exit('Firefox does not offer WebDriver BiDi')
        ids = iter(range(1, 1000))

        async def command(method, params):
            number = next(ids)
            await bidi.send(json.dumps({'id': number, 'method': method, 'params': params}))
            while True:
                message = json.loads(await bidi.recv())
                if message.get('id') == number:
                    if message.get('type') == 'error':
                        sys.exit(f'{method}: {message.get("message")}')
                    return message['result']

        await command('session.new', {'capabilities': {}})
        await command('webExtension.install',
                      {'extensionData': {'type': 'path', 'path': extension}})
        for page in pages:
            url, report = page.rsplit('|', 1)
            tab = (await command('browsingContext.create', {'type': 'tab'}))['context']
            await command('browsingContext.navigate', {'context': tab, 'url': url, 'wait': 'complete'})
            await until(f'the report of {url}', lambda: os.path.getsize(report) > 0
                        if os.path.exists(report) else False, 120)
        # A tab closed mid-capture.
        hold = pages[0].split('?')[0] + '?hold'
        tab = (await command('browsingContext.create', {'type': 'tab'}))['context']
        before = polls()
        await command('browsingContext.navigate', {'context': tab, 'url': hold, 'wait': 'complete'})
        await until('the capture to poll the scanner', lambda: polls() > before and running(run_program), 30)
        closed = time.monotonic()
        await command('browsingContext.close', {'context': tab})
        await until('the closed tab\'s run to end', lambda: not running(run_program), 60)
        print(f'{time.monotonic() - closed:.2f}')
        await command('browser.close', {})
    finally:
        try:
            firefox.wait(timeout=10)
        except subprocess.TimeoutExpired:
            firefox.kill()


asyncio.run(main())
