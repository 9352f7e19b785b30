#!/usr/bin/env python3
"""The web face in a real browser (headless Chromium through Selenium), against
the windowless server on a loopback IRC server: the catalogue page, search and
paging, the admin's login, every change it offers, and its refusals; the
check of the links, and a catalogue file sent and taken back. A member
in the IRC room checks that a change reaches the room.

    test_webface.py SERVER_BINARY
"""

import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.webdriver.remote.file_detector import UselessFileDetector
from selenium.webdriver.remote.remote_connection import RemoteConnection
from selenium.webdriver.common.by import By
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.support.ui import WebDriverWait

SERVER = None
PASSWORD = "R1ght horse battery"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, timeout=20.0, what="the condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class IrcMember:
    """A member of an IRC channel over a plain socket; keeps every PRIVMSG."""

    def __init__(self, nick, port, channel):
        self.nick, self.channel = nick, channel
        self.messages = []  # (sender, target, text)
        self.joined = threading.Event()
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.send(f"NICK {nick}")
        self.send(f"USER {nick} 0 * :{nick}")
        threading.Thread(target=self.read, daemon=True).start()

    def send(self, line):
        self.sock.sendall((line + "\r\n").encode())

    def say(self, text):
        self.send(f"PRIVMSG {self.channel} :{text}")

    def read(self):
        buffer = b""
        while True:
            data = self.sock.recv(4096)
            if not data:
                return
            buffer += data
            while b"\r\n" in buffer:
                raw, buffer = buffer.split(b"\r\n", 1)
                line = raw.decode("utf-8", "replace")
                parts = line.split(" ")
                if parts[0] == "PING":
                    self.send("PONG " + " ".join(parts[1:]))
                elif len(parts) > 1 and parts[1] == "001":
                    self.send(f"JOIN {self.channel}")
                elif len(parts) > 1 and parts[1] == "366":
                    self.joined.set()
                elif len(parts) > 3 and parts[1] == "PRIVMSG":
                    text = line.split(" :", 1)[1] if " :" in line else ""
                    self.messages.append((parts[0][1:].split("!")[0], parts[2], text))

    def private(self):
        return [text for sender, target, text in self.messages if target == self.nick]

    def in_channel(self):
        return [text for sender, target, text in self.messages if target == self.channel]


class WebFaceInABrowser(unittest.TestCase):
    # Chromium's first start on a busy 2-core machine (two builds and the
    # network suites beside it) has taken over 30 s, Selenium's own limit.
    BROWSER_START_SECONDS = 180

    @classmethod
    def setUpClass(cls):
        # Whatever is started here is stopped again however the run ends, a
        # failure in this set-up included: each start registers its stop.
        cls.work = tempfile.mkdtemp(prefix="webface-")
        if os.environ.get("KEEP_WORK") is None:
            cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        irc_port, cls.web_port = free_port(), free_port()
        irc = os.path.join(cls.work, "irc")
        os.makedirs(os.path.join(irc, "include"))
        open(os.path.join(irc, "motd"), "w").close()
        for path in (cls.work, irc, os.path.join(irc, "include")):
            os.chmod(path, 0o755)
        with open(os.path.join(irc, "ngircd.conf"), "w") as conf:
            conf.write(f"[Global]\nName = irc.test\nInfo = test\nListen = 127.0.0.1\nPorts = {irc_port}\n"
                       f"MotdFile = {irc}/motd\n[Limits]\nMaxConnectionsIP = 0\nMaxJoins = 0\nMaxPenaltyTime = 0\n"
                       f"[Options]\nDNS = no\nIdent = no\nPAM = no\nIncludeDir = {irc}/include\n")
        cls.start(["ngircd", "-n", "-f", os.path.join(irc, "ngircd.conf")])
        wait_until(lambda: cls.listening(irc_port), what="ngircd")
        cls.ann = IrcMember("ann", irc_port, "#links")
        cls.addClassCleanup(cls.ann.sock.close)
        assert cls.ann.joined.wait(10), "Ann could not join #links"

        # The catalogue's links, on a web server of the test's own: a few are gone or failing.
        cls.links = cls.start_link_server()
        data = os.path.join(cls.work, "data")
        os.makedirs(data)
        with open(os.path.join(data, "descriptions.dat"), "w", newline="\r\n") as descriptions, \
                open(os.path.join(data, "urls.dat"), "w", newline="\r\n") as urls:
            for item in range(450):
                descriptions.write(f"Item {item} about links\n")
                urls.write(f"{cls.links}/page-{item}\n")
        hashed = subprocess.run([SERVER, "--hash-password"], input=PASSWORD + "\n", capture_output=True, text=True,
                                check=True).stdout.strip()
        settings = os.path.join(data, "network.conf")
        with open(settings, "w") as conf:
            conf.write(f"http-listen = 127.0.0.1:{cls.web_port}\n{hashed}\n"
                       f"http-public-url = https://links.example.org/\nlink-check = 24h\nlink-check-private = on\n"
                       f"protocol = irc\n"
                       f"account = linkdesk@127.0.0.1\nroom = #links\noption.port = {irc_port}\nsend-rate = 0\n")
        os.chmod(settings, 0o600)
        cls.log = open(os.path.join(cls.work, "server.log"), "w")
        cls.addClassCleanup(cls.log.close)
        cls.start([SERVER, "--data-dir", data], stdout=cls.log, stderr=cls.log)
        cls.base = f"http://127.0.0.1:{cls.web_port}"
        wait_until(lambda: cls.ready(), what="the server's /readyz")
        cls.browser = cls.start_browser()
        cls.addClassCleanup(cls.browser.quit)
        cls.browser.implicitly_wait(5)

    @classmethod
    def start_link_server(cls):
        class Pages(http.server.BaseHTTPRequestHandler):
            ANSWERS = {"/page-7": 404, "/page-300": 410, "/page-11": 500}

            def do_HEAD(self):
                self.send_response(self.ANSWERS.get(self.path, 200))
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *arguments):
                pass

        # A port whose digits hold no "44": the catalogue's search looks in the addresses too.
        port = free_port()
        while "44" in str(port):
            port = free_port()
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Pages)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        cls.addClassCleanup(server.shutdown)
        return f"http://127.0.0.1:{port}"

    @classmethod
    def start(cls, command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL):
        process = subprocess.Popen(command, stdout=stdout, stderr=stderr)
        cls.addClassCleanup(cls.stop, process)
        return process

    @staticmethod
    def stop(process):
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()

    @classmethod
    def start_browser(cls):
        """Headless Chromium through a chromedriver of our own, so its start
        gets the time a busy machine needs, and a failure says what Chromium
        and chromedriver said rather than only that nothing answered."""
        driver_log = os.path.join(cls.work, "chromedriver.log")
        port = free_port()
        driver = cls.start([shutil.which("chromedriver") or "/usr/bin/chromedriver", f"--port={port}",
                            "--verbose", f"--log-path={driver_log}"])

        def driver_said():
            try:
                with open(driver_log, errors="replace") as log:
                    return "".join(log.readlines()[-40:])
            except OSError:
                return "(chromedriver wrote no log)"

        deadline = time.monotonic() + cls.BROWSER_START_SECONDS
        while not cls.listening(port):
            if driver.poll() is not None:
                raise AssertionError(f"chromedriver ended with {driver.returncode}:\n{driver_said()}")
            if time.monotonic() > deadline:
                raise AssertionError(f"chromedriver took no connection within {cls.BROWSER_START_SECONDS} s:\n"
                                     f"{driver_said()}")
            time.sleep(0.2)
        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                         "--no-first-run", "--disable-background-networking", "--disable-component-update",
                         "--disable-sync", f"--user-data-dir={os.path.join(cls.work, 'chromium')}"):
            options.add_argument(argument)
        if shutil.which("chromium"):
            options.binary_location = shutil.which("chromium")
        executor = RemoteConnection(f"http://127.0.0.1:{port}")
        executor.set_timeout(cls.BROWSER_START_SECONDS)
        try:
            browser = webdriver.Remote(command_executor=executor, options=options)
        except WebDriverException as error:
            raise AssertionError(f"Chromium did not start: {error.msg}\nchromedriver said:\n{driver_said()}") from None
        # chromedriver runs here: a file to upload is named by its path, not sent over first.
        browser.file_detector = UselessFileDetector()
        return browser

    @staticmethod
    def listening(port):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            return False

    @classmethod
    def ready(cls):
        try:
            return urllib.request.urlopen(cls.base + "/readyz", timeout=2).status == 200
        except OSError:
            return False

    def open(self, path):
        self.browser.get(self.base + path)

    def said(self):
        return self.browser.find_element(By.ID, "said").text

    def submit(self, form_action, fields=None, within=None):
        scope = within or self.browser
        form = scope.find_element(By.CSS_SELECTOR, f"form[action='{form_action}']")
        for name, value in (fields or {}).items():
            field = form.find_element(By.NAME, name)
            field.clear()
            field.send_keys(value)
        self.click(form.find_element(By.CSS_SELECTOR, "button[type=submit]"))

    def click(self, button):
        """Clicks and waits until the next page replaced this one: the mark
        this page's window carries is gone from the next one."""
        self.browser.execute_script("window.valdrinOldPage = true")
        button.click()

        def next_page(driver):
            try:
                return driver.execute_script(
                    "return document.readyState === 'complete' && window.valdrinOldPage === undefined")
            except WebDriverException:  # between two pages
                return False

        WebDriverWait(self.browser, 10).until(next_page)

    def test_1_catalogue_search_and_paging(self):
        self.open("/")
        items = self.browser.find_elements(By.CSS_SELECTOR, "ol li")
        self.assertEqual(len(items), 200)
        # IRC clients take "/" as their own: the page says what to type there.
        self.assertIn("/say /linkdesk send N", self.browser.page_source)
        self.click(self.browser.find_element(By.LINK_TEXT, "Next"))
        self.assertIn("Page 2 of 3", self.browser.page_source)
        # Every word, in the description or the address, accents and case aside.
        self.submit("/", {"q": "ÍTEM 44"})
        self.assertIn("14 of 450 items match", self.browser.page_source)
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "ol li a")[0].get_attribute("href"),
                         f"{self.links}/page-44")

    def test_2_admin(self):
        self.open("/admin")
        self.submit("/admin/login", {"password": "wrong"})
        self.assertIn("Wrong password.", self.browser.page_source)
        self.submit("/admin/login", {"password": PASSWORD})
        self.assertIn("Log out", self.browser.page_source)

        # An item added here is served in the room at once.
        self.submit("/admin/add", {"description": "Added from the web", "address": "https://example.org/web"})
        self.assertEqual(self.said(), "Added item 450: Added from the web")
        self.browser.save_screenshot(os.path.join(self.work, "admin.png"))  # for a person to look at (KEEP_WORK=1)
        self.ann.say("/linkdesk send 450")
        wait_until(lambda: any("https://example.org/web" in text for text in self.ann.private()),
                   what="item 450 in the room")

        self.open("/admin?q=added")
        self.submit("/admin/edit", {"description": "Edited from the web"},
                    within=self.browser.find_element(By.ID, "item450"))
        self.assertEqual(self.said(), "Changed item 450: Edited from the web")
        self.open("/?q=edited")
        self.assertIn("Edited from the web", self.browser.page_source)

        self.open("/admin?q=edited")
        self.click(self.browser.find_element(By.ID, "item450").find_element(
            By.CSS_SELECTOR, "form[action='/admin/remove'] button"))
        # Remove asks first, on a page of its own.
        self.assertIn("Remove item 450, ", self.browser.page_source)
        self.submit("/admin/remove")
        self.assertEqual(self.said(), "Removed item 450: Edited from the web")

        self.submit("/admin/message", {"text": "Thanks for asking"})
        self.assertEqual(self.said(), "Server message set.")
        self.open("/")
        self.assertIn("Thanks for asking", self.browser.page_source)

        # The room switched off, and on again: its closing and opening lines reach it.
        self.open("/admin")
        before = len(self.ann.in_channel())
        self.submit("/admin/room")
        self.assertIn("serving switched off", self.said())
        self.submit("/admin/room")
        self.assertIn("serving switched on", self.said())
        wait_until(lambda: len(self.ann.in_channel()) >= before + 7, what="the room's closing and opening lines")
        self.assertTrue(any("The whole catalogue: https://links.example.org/" in text
                            for text in self.ann.in_channel()[before:]))

        # A form posted without its token changes nothing.
        self.browser.execute_script(
            "document.querySelector(\"form[action='/admin/message'] input[name=csrf]\").remove()")
        self.submit("/admin/message", {"text": "Not from this page"})
        self.assertIn("token is missing or wrong", self.browser.page_source)
        self.open("/")
        self.assertNotIn("Not from this page", self.browser.page_source)

        self.open("/admin")
        self.submit("/admin/logout")
        self.assertEqual("Admin: log in", self.browser.title)

    def log_in(self):
        self.open("/admin")
        if "Log out" not in self.browser.page_source:
            self.submit("/admin/login", {"password": PASSWORD})

    def test_3_a_page_loaded_before_another_change_changes_nothing(self):
        self.log_in()
        self.assertIn("450 items; 1 to 200 shown", self.browser.page_source)
        to_remove = self.browser.current_window_handle
        self.browser.switch_to.new_window("tab")
        self.open("/admin")
        to_edit = self.browser.current_window_handle
        self.browser.switch_to.new_window("tab")
        self.open("/admin")
        self.click(self.browser.find_element(By.ID, "item100").find_element(
            By.CSS_SELECTOR, "form[action='/admin/remove'] button"))
        self.submit("/admin/remove")
        self.assertEqual(self.said(), "Removed item 100: Item 100 about links")
        self.browser.close()

        # Rows 101 and 102 of the pages loaded before were items 101 and 102;
        # those numbers name other items now.
        self.browser.switch_to.window(to_remove)
        self.click(self.browser.find_element(By.ID, "item101").find_element(
            By.CSS_SELECTOR, "form[action='/admin/remove'] button"))
        self.submit("/admin/remove")
        self.assertEqual(self.said(), "The catalogue changed since this page was loaded; nothing was changed.")
        self.browser.switch_to.window(to_edit)
        self.submit("/admin/edit", {"description": "Not this one"}, within=self.browser.find_element(By.ID, "item102"))
        self.assertEqual(self.said(), "The catalogue changed since this page was loaded; nothing was changed.")
        self.browser.close()
        self.browser.switch_to.window(to_remove)
        self.open("/?q=about")
        self.assertIn("Item 101 about links", self.browser.page_source)
        self.assertIn("Item 102 about links", self.browser.page_source)
        self.assertIn("Item 103 about links", self.browser.page_source)
        self.assertNotIn("Not this one", self.browser.page_source)

    def test_5_links_import_and_export(self):
        self.log_in()

        # The server checked its links at start: the dead ones first, each with what was found.
        def checked():
            self.open("/admin")
            return "Checked " in self.browser.page_source

        wait_until(checked, what="the link check on the admin page")
        self.assertIn(": 450 links, 2 dead, 1 doubtful", self.browser.page_source)
        self.browser.save_screenshot(os.path.join(self.work, "links.png"))
        rows = [row.text for row in self.browser.find_elements(By.CSS_SELECTOR, "table.links tr")[1:]]
        self.assertEqual(len(rows), 3)
        self.assertIn(f"{self.links}/page-7 Dead: 404", rows[0])
        self.assertIn(f"{self.links}/page-300 Dead: 410", rows[1])
        self.assertIn(f"{self.links}/page-11 Doubtful: 500", rows[2])
        metrics = urllib.request.urlopen(self.base + "/metrics", timeout=5).read().decode()
        self.assertIn("valdrin_links_dead 2", metrics)
        self.assertIn("valdrin_links_checked 450", metrics)

        # The catalogue out, as the admin page's download.
        session = self.browser.get_cookie("valdrin_session")["value"]
        request = urllib.request.Request(self.base + "/admin/catalogue.csv",
                                         headers={"Cookie": f"valdrin_session={session}"})
        exported = urllib.request.urlopen(request, timeout=5).read().decode()
        self.assertTrue(exported.startswith("description,url\r\n"))
        items = exported.count("\r\n") - 1
        # Without the session, the login page and not the catalogue.
        self.assertIn("Admin: log in", urllib.request.urlopen(self.base + "/admin/catalogue.csv", timeout=5).read()
                      .decode())

        def upload(name, content, replace=False, check=False):
            path = os.path.join(self.work, name)
            with open(path, "w", newline="") as file:
                file.write(content)
            self.open("/admin")
            form = self.browser.find_element(By.CSS_SELECTOR, "form[action='/admin/import']")
            form.find_element(By.NAME, "file").send_keys(path)
            if replace:
                form.find_element(By.CSS_SELECTOR, "input[value=replace]").click()
            if check:
                form.find_element(By.NAME, "check").click()
            self.click(form.find_element(By.CSS_SELECTOR, "button[type=submit]"))
            return self.said()

        added = 'url,description\r\nhttps://example.org/imported,"Imported, from a sheet"\r\n' \
                'https://example.org/formula,"=HYPERLINK(""https://evil.example"")"\r\n'
        self.assertIn("would put 2 items", upload("new.csv", added, check=True))
        self.assertIn(f"Imported 2 items after the {items} there are", upload("new.csv", added))
        self.open("/?q=imported")
        self.assertIn("Imported, from a sheet", self.browser.page_source)
        self.ann.say(f"/linkdesk send {items + 1}")
        wait_until(lambda: any("=HYPERLINK" in text for text in self.ann.private()), what="the imported item")
        # One bad row imports nothing, and says which.
        said = upload("bad.csv", 'description,url\r\n"unbalanced,https://x.example\r\n')
        self.assertIn("Nothing was imported: bad.csv cannot be read", said)
        # The catalogue as it was downloaded, back in place of the whole.
        self.assertIn(f"{items} items in place of the {items + 2}", upload("back.csv", exported, replace=True))
        again = urllib.request.urlopen(request, timeout=5).read().decode()
        self.assertEqual(again, exported)

    def test_4_on_a_phone(self):
        self.log_in()
        self.browser.set_window_size(390, 844)
        try:
            for path in ("/admin", "/"):
                self.open(path)
                self.browser.save_screenshot(os.path.join(self.work, f"phone{path.replace('/', '-')}.png"))
                wide = self.browser.execute_script(
                    "return [document.documentElement.scrollWidth, window.innerWidth]")
                self.assertLessEqual(wide[0], wide[1], f"{path} is wider than the phone")
            self.open("/admin")
            button = self.browser.find_element(By.CSS_SELECTOR, "form[action='/admin/room'] button")
            right = self.browser.execute_script("return arguments[0].getBoundingClientRect().right", button)
            self.assertLessEqual(right, 390)
            chart = self.browser.find_element(By.CSS_SELECTOR, "svg.chart")
            self.assertIn("24 h ago", chart.get_attribute("innerHTML"))
            # Paging works there too.
            self.click(self.browser.find_element(By.LINK_TEXT, "Next"))
            self.assertIn("201 to 400 shown", self.browser.page_source)
        finally:
            self.browser.set_window_size(1280, 1024)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    SERVER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
