#!/usr/bin/python3
"""A web user's session with KORVANT in headless Chromium.

Run by tst_browser, which starts KORVANT's windows with the exchange simulator on an open
port and the lists: password "secret", permitted "RTM-RRT" and "SSD-RSP". Two browsers take
part: the first comes from 127.0.0.1, the second from 127.0.0.2 through a relay that
connects to the server from that address (every address of 127.0.0.0/8 is this machine).
While the first user is logged in, its browser opens a page of another site (served here
from 127.0.0.3) whose picture and script-posted forms name commands of KORVANT: the server
refuses them, and tst_browser checks that none reached the exchange (they all carry
"6666"); a name that resolves to KORVANT's address but is none of its own (DNS rebinding,
played by Chromium's resolver rules) gets the refusal page; the user's own pages go on
working. The other site's page also holds a link that redirects to a command of KORVANT
(it carries "5555"): clicked there, it is refused; opened by itself, as a link from a mail
is, it shows the command for confirmation and runs nothing until the user presses the
button (tst_browser checks that the command reached the exchange once). A command typed
into the address bar is confirmed the same way. With --https the server speaks HTTPS with a certificate made for the test, which
the one browser is told to accept: it logs in, sends a command and reads its reply.

usage: web_pages.py [--https] PORT [SCREENSHOT_FOLDER]
"""
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

REBOUND = "rebound.test"  # a name of another site that its owner points at this computer
REDIRECTED = "SSD-RSP:5555,REST"  # the command that the other site's link redirects to
OTHER_SITE = """<html><body>
<a id="link" href="/link">a link</a>
<img id="picture" src="http://127.0.0.1:{port}/?Command=SSD-RSP:6666,PICTURE">
<iframe name="sink"></iframe>
<form id="form" method="POST" action="http://127.0.0.1:{port}/" target="sink">
<input name="Command" value="SSD-RSP:6666,FORM"></form>
<script>
window.done = {{form: false, fetch: false}};
document.querySelector("iframe").onload = () => done.form = true;
document.getElementById("form").submit();
fetch("http://127.0.0.1:{port}/", {{method: "POST", mode: "no-cors",
    body: new URLSearchParams("Command=SSD-RSP:6666,FETCH")}})
    .finally(() => done.fetch = true);
</script></body></html>"""
DONE = "КОМАНДА ВЫПОЛНЕНА"  # the simulator's second reply line, sent in code page 1251
WAIT = 60  # seconds; a reply comes at once from the simulator


FLAGS = ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage", "--window-size=900,600", "--lang=en-US")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def connectable(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def wait_for(ready, what):
    deadline = time.monotonic() + WAIT
    while not ready():
        if time.monotonic() > deadline:
            raise RuntimeError(f"{what} did not start")
        time.sleep(0.05)


class Browser:
    """Headless Chromium and its chromedriver, both started here and spoken to at 127.0.0.1
    only: left to themselves, Selenium and chromedriver reach each other and the browser by
    the name "localhost", which a minimal system may not resolve (it has no /etc/hosts)."""

    def __init__(self, flags=()):
        self.profile = tempfile.TemporaryDirectory(ignore_cleanup_errors=True)
        self.chromium = subprocess.Popen(
            ["/usr/bin/chromium", *FLAGS, *flags, f"--user-data-dir={self.profile.name}",
             "--remote-debugging-port=0", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        active = os.path.join(self.profile.name, "DevToolsActivePort")
        wait_for(lambda: os.path.exists(active) and open(active).read().strip(), "Chromium")
        devtools = int(open(active).read().split()[0])
        port = free_port()
        self.chromedriver = subprocess.Popen(
            ["/usr/bin/chromedriver", f"--port={port}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: connectable(port), "chromedriver")
        options = Options()
        options.debugger_address = f"127.0.0.1:{devtools}"
        self.driver = webdriver.Remote(command_executor=f"http://127.0.0.1:{port}",
                                       options=options)

    def quit(self):
        try:
            self.driver.quit()
        finally:
            for process in (self.chromedriver, self.chromium):
                process.terminate()
                process.wait(10)
            self.profile.cleanup()


class Relay(threading.Thread):
    """Forwards every connection to the server, connecting from `source`."""

    def __init__(self, server_port, source):
        super().__init__(daemon=True)
        self.server_port = server_port
        self.source = source
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]

    def run(self):
        while True:
            client, _ = self.listener.accept()
            server = socket.socket()
            server.bind((self.source, 0))
            server.connect(("127.0.0.1", self.server_port))
            for a, b in ((client, server), (server, client)):
                threading.Thread(target=self.pump, args=(a, b), daemon=True).start()

    @staticmethod
    def pump(source, target):
        try:
            while data := source.recv(65536):
                target.sendall(data)
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def serve_other_site(port):
    """Another site's page, at http://127.0.0.3:<its port>/, that tries KORVANT's commands;
    its /link redirects to one."""
    page = OTHER_SITE.format(port=port).encode()

    class Page(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            if self.path == "/link":
                self.send_response(302)
                self.send_header("Location", f"http://127.0.0.1:{port}/?Command={REDIRECTED}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.3", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def other_sites_are_refused(driver, port):
    site = serve_other_site(port)
    try:
        driver.get(f"http://127.0.0.3:{site.server_address[1]}/")
        WebDriverWait(driver, WAIT).until(lambda d: d.execute_script(
            "return picture.complete && done.form && done.fetch"))
        expect(driver.execute_script("return picture.naturalWidth") == 0,
               "another site's picture request got no picture")
        page = follow(driver, lambda: driver.find_element(By.ID, "link").click())
        expect("с другой страницы" in page,
               "a link on another site's page that redirects to a command is refused")
        link = f"http://127.0.0.3:{site.server_address[1]}/link"
        page = follow(driver, lambda: driver.get(link))  # as a link from a mail is opened
        expect("ещё не передана" in page and REDIRECTED in page,
               "the same link opened by itself shows its command for confirmation")
        lines = reply_lines(follow(driver, lambda: press_button(driver)))
        expect(lines[0] == REDIRECTED and lines[1] == DONE,
               f"the confirmation's button runs the command: {lines}")
    finally:
        site.shutdown()
    driver.get(f"http://{REBOUND}:{port}/")
    expect("KORVANT_HTTP_HOSTS" in driver.find_element(By.TAG_NAME, "body").text,
           "a rebound name gets the refusal page that names the variable")
    driver.get(f"http://127.0.0.1:{port}/Command.html")
    expect("Введите команду" in driver.find_element(By.TAG_NAME, "body").text,
           "the user's own command page opens again")


def text_field(driver):
    return driver.find_element(By.CSS_SELECTOR, "input[type=text], input[type=password]")


def follow(driver, action):
    """Does what leads to another page and waits for it: the old page's window carries a mark
    that the new page's window does not. Returns the new page's text."""
    driver.execute_script("window.korvantOldPage = true")
    action()
    WebDriverWait(driver, WAIT, ignored_exceptions=(WebDriverException,)).until(
        lambda d: d.execute_script(
            "return !window.korvantOldPage && document.readyState === 'complete'"))
    return driver.find_element(By.TAG_NAME, "body").text


def press_button(driver):
    driver.find_element(By.CSS_SELECTOR, "input[type=submit]").click()


def submit(driver, text):
    """Types into the page's one field, presses its button and waits for the next page."""
    text_field(driver).send_keys(text)
    return follow(driver, lambda: press_button(driver))


def reply_lines(page_text):
    return [line for line in page_text.splitlines() if line and line != "Send"]


def expect(condition, what):
    if not condition:
        raise AssertionError(what)
    print("ok:", what)


def log_in(driver, base):
    driver.get(base)
    expect("Введите пароль" in driver.find_element(By.TAG_NAME, "body").text,
           "the login page shows its Russian text")
    page = submit(driver, "wrong")
    expect("Неверный пароль" in page, "a wrong password is refused")
    page = submit(driver, "secret")
    expect("Введите команду" in page, "the password opens the command page")


def https_session(port):
    browser = Browser(["--ignore-certificate-errors"])
    try:
        log_in(browser.driver, f"https://127.0.0.1:{port}/")
        lines = reply_lines(submit(browser.driver, "RTM-RRT"))
        expect(lines[0] == "RTM-RRT" and lines[1] == DONE and lines[-1] == "<",
               f"the reply lines of RTM-RRT over HTTPS: {lines}")
        expect(browser.driver.execute_script("return location.protocol") == "https:",
               "the pages came over HTTPS")
    finally:
        browser.quit()


def main():
    if sys.argv[1] == "--https":
        https_session(int(sys.argv[2]))
        return
    port = int(sys.argv[1])
    shots = sys.argv[2] if len(sys.argv) > 2 else None
    first_browser = Browser([f"--host-resolver-rules=MAP {REBOUND} 127.0.0.1"])
    second_browser = Browser()
    first = first_browser.driver
    second = second_browser.driver
    try:
        log_in(first, f"http://127.0.0.1:{port}/")
        page = submit(first, "rtm-rrt")
        expect("не разрешена" in page, "lower-case rtm-rrt is not permitted")
        page = submit(first, "RTM-RRT")
        lines = reply_lines(page)
        expect(lines[0] == "RTM-RRT" and lines[1] == DONE and lines[-1] == "<",
               f"the reply lines of RTM-RRT, Cyrillic readable: {lines}")
        if shots:
            first.save_screenshot(f"{shots}/web-reply.png")
        page = submit(first, "SSD-RSP:2345,REST")  # from the reply page's own form
        lines = reply_lines(page)
        expect(lines[0] == "SSD-RSP:2345,REST" and lines[1] == DONE,
               f"the next command from the reply page: {lines}")
        other_sites_are_refused(first, port)
        lines = reply_lines(submit(first, "RTM-RRT"))
        expect(lines[0] == "RTM-RRT" and lines[1] == DONE,
               f"the user is still logged in, and the own form works: {lines}")

        relay = Relay(port, "127.0.0.2")
        relay.start()
        log_in(second, f"http://127.0.0.1:{relay.port}/")
        if shots:
            second.save_screenshot(f"{shots}/web-command.png")

        pages = {}

        def send(name, driver, command):
            pages[name] = reply_lines(submit(driver, command))

        for round_ in range(3):
            users = [threading.Thread(target=send, args=("first", first, "RTM-RRT")),
                     threading.Thread(target=send, args=("second", second, f"SSD-RSP:{round_}777,REST"))]
            for user in users:
                user.start()
            for user in users:
                user.join()
            expect(pages["first"][0] == "RTM-RRT" and "777" not in " ".join(pages["first"]),
                   f"round {round_}: the first user sees only its own reply {pages['first']}")
            expect(pages["second"][0] == f"SSD-RSP:{round_}777,REST" and
                   "RTM-RRT" not in " ".join(pages["second"]),
                   f"round {round_}: the second user sees only its own reply {pages['second']}")

        # A command typed into the address bar is shown for confirmation; its button runs it.
        # No page before the reply hints at the code page, and the reply page itself names
        # none; the server's Content-Type does.
        page = follow(first, lambda: first.get(f"http://127.0.0.1:{port}/?Command=RTM-RRT"))
        expect("ещё не передана" in page and "RTM-RRT" in page,
               "a command typed into the address bar is shown for confirmation")
        if shots:
            first.save_screenshot(f"{shots}/web-confirm.png")
        lines = reply_lines(follow(first, lambda: press_button(first)))
        expect(lines[0] == "RTM-RRT" and lines[1] == DONE,
               f"the confirmed command's reply page: {lines}")
        expect(first.execute_script("return document.characterSet") == "windows-1251",
               "the reply page is read as code page 1251")
    finally:
        first_browser.quit()
        second_browser.quit()


if __name__ == "__main__":
    main()
