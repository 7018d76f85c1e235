#!/usr/bin/python3
"""The console in a real browser: Debian's Chromium driven by chromedriver
signs in, filters the fleet, opens a machine, signs out, and watches that a machine's payload
never runs. Screenshots of each page go to the folder given.

Usage: console_browser_test.py VELTRIX_SERVER VELTRIX_STORE SNAPSHOT SCREENSHOT_DIR
Exits 77 (skipped) when Chromium, chromedriver or Selenium is missing."""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import WebDriverWait
    import console_pages_browser
except ImportError:
    print("console_browser_test: python3-selenium is not installed", file=sys.stderr)
    sys.exit(SKIP)

PAYLOAD_NAME = "\"><img src=x onerror=\"document.title='PWNED';alert(1)\">"
PAYLOAD_CPU = "<script>document.title='PWNED'</script></textarea>"


def fail(message):
    print("console_browser_test: FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def navigating(driver, action):
    """Runs an action that leaves the page (a click, a submit) and returns once
    the next page has loaded: a click returns before the browser has followed
    it, and a loaded machine may take seconds to answer."""
    old = driver.find_element(By.TAG_NAME, "html")
    action()
    wait = WebDriverWait(driver, 30)
    wait.until(expected_conditions.staleness_of(old))
    wait.until(lambda d: d.execute_script("return document.readyState") == "complete")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def snapshot_with(template, product, cpu, serial):
    data = json.loads(json.dumps(template))
    cimv2 = data["namespaces"]["root\\cimv2"]
    cimv2["Win32_ComputerSystemProduct"][0]["Name"] = product
    cimv2["Win32_Processor"][0]["Name"] = cpu
    cimv2["Win32_BIOS"][0]["SerialNumber"] = serial
    cimv2["Win32_SystemEnclosure"][0]["SerialNumber"] = serial
    cimv2["Win32_BaseBoard"][0]["SerialNumber"] = "B" + serial
    return data


def main():
    if len(sys.argv) != 5:
        fail(__doc__)
    server, store, snapshot, shots = sys.argv[1:]
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            print("console_browser_test: %s is missing" % program, file=sys.stderr)
            return SKIP
    os.makedirs(shots, exist_ok=True)
    work = tempfile.mkdtemp(prefix="veltrix-console-")
    process = driver = None
    try:
        db = os.path.join(work, "fleet.sqlite")
        with open(snapshot, encoding="utf-8") as f:
            template = json.load(f)
        inputs = []
        for name, product, cpu, serial in (
                ("pc-0042", "Norvane Office 7731", "Intel Core i5-12500", "NRV-7731-0042"),
                ("payload-pc", PAYLOAD_NAME, PAYLOAD_CPU, "NRV-7731-0666")):
            path = os.path.join(work, name + ".json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump(snapshot_with(template, product, cpu, serial), f)
            inputs.append(path)
        subprocess.run([store, "add", "--db", db] + inputs, check=True, capture_output=True)
        subprocess.run([server, "user", "add", "anna", "--role", "viewer", "--db", db], input=b"s3cret-pass\n",
                       check=True, capture_output=True)
        subprocess.run([server, "user", "add", console_pages_browser.ADMIN_NAME, "--role", "admin", "--db", db],
                       input=(console_pages_browser.ADMIN_PASSWORD + "\n").encode(), check=True, capture_output=True)
        port = free_port()
        process = subprocess.Popen([server, "run", "--db", db, "--listen", "127.0.0.1:%d" % port, "--insecure-http"],
                                   stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        base = "http://127.0.0.1:%d" % port

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                         "--no-first-run", "--user-data-dir=" + os.path.join(work, "profile"),
                         "--window-size=1400,900"):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        driver.set_page_load_timeout(30)

        def never_ran(where):
            try:
                alert = driver.switch_to.alert
                fail("an alert opened on %s: %s" % (where, alert.text))
            except NoAlertPresentException:
                pass
            check(driver.title != "PWNED", "a machine's script ran on " + where)
            check(not driver.find_elements(By.CSS_SELECTOR, "main img"), "a machine's image became markup on " + where)

        driver.get(base + "/")
        check(driver.current_url.endswith("/login"), "the fleet without a session did not lead to /login")
        driver.save_screenshot(os.path.join(shots, "login.png"))
        driver.find_element(By.ID, "name").send_keys("anna")
        driver.find_element(By.ID, "password").send_keys("s3cret-pass")
        navigating(driver, driver.find_element(By.CSS_SELECTOR, "main button[type=submit]").click)
        check(driver.find_element(By.TAG_NAME, "h1").text == "Fleet", "signing in did not show the fleet")
        body = driver.find_element(By.TAG_NAME, "body").text
        check("2 machines" in body, "the fleet does not count 2 machines")
        check(PAYLOAD_NAME in body and PAYLOAD_CPU in body, "the payloads are not shown as text")
        never_ran("the fleet")
        driver.save_screenshot(os.path.join(shots, "fleet.png"))

        box = driver.find_element(By.ID, "q")
        box.send_keys("NRV-7731-0042")
        navigating(driver, box.submit)
        rows = driver.find_elements(By.CSS_SELECTOR, "tbody tr")
        check(len(rows) == 1 and "pc-0042" in rows[0].text, "the filter did not leave pc-0042 alone")
        never_ran("the filtered fleet")
        driver.save_screenshot(os.path.join(shots, "fleet-filtered.png"))

        driver.get(base + "/?q=0666")
        navigating(driver, driver.find_element(By.LINK_TEXT, "payload-pc").click)
        check(driver.find_element(By.TAG_NAME, "h1").text == "payload-pc", "the machine link did not open its page")
        check("Scans" in driver.find_element(By.TAG_NAME, "body").text, "the machine page shows no scans")
        never_ran("the machine page")
        driver.save_screenshot(os.path.join(shots, "machine.png"))

        driver.get(base + "/?sort=model&order=desc")
        never_ran("the fleet sorted by model")
        first = driver.find_elements(By.CSS_SELECTOR, "tbody tr")[0].text
        check("Norvane Office 7731" in first, "sorting by model, descending, did not put Norvane first")

        console_pages_browser.check_search_dashboard_admin(driver, base, shots)
        navigating(driver, driver.find_element(By.CSS_SELECTOR, "form.signout button").click)
        check(driver.current_url.endswith("/login"), "signing out did not lead to /login")
        driver.get(base + "/")
        check(driver.current_url.endswith("/login"), "the fleet is still shown after signing out")
        driver.save_screenshot(os.path.join(shots, "signed-out.png"))
        print("console_browser_test: 1 passed, 0 failed")
        return 0
    finally:
        if driver:
            driver.quit()
        if process:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
