#!/usr/bin/python3
"""The console in a real browser: Debian's Chromium driven by chromedriver
signs in, filters the fleet, opens a machine, sees a disk replaced and a
program upgraded on its page and on /changes, signs out, and watches that a
machine's payload never runs. Screenshots of each page go to the folder given.

Usage: console_browser_test.py VELTRIX_SERVER VELTRIX_STORE SNAPSHOT SCREENSHOT_DIR
Exits 77 (skipped) when Chromium, chromedriver or Selenium is missing."""
import datetime
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
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
    import console_pages_browser
    from browser_checks import check, fail, navigating, never_ran
except ImportError:
    print("console_browser_test: python3-selenium is not installed", file=sys.stderr)
    sys.exit(SKIP)

PAYLOAD_NAME = "\"><img src=x onerror=\"document.title='PWNED';alert(1)\">"
PAYLOAD_CPU = "<script>document.title='PWNED'</script></textarea>"
PAYLOAD_PROGRAM = "<img src=x onerror=\"document.title='PWNED'\">javascript:alert(1)"
UNINSTALL = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
UPGRADE = "7-Zip 23.01 (x64) 23.01 \u2192 7-Zip 24.08 (x64) 24.08"


def whole_page_screenshot(driver, path):
    """A screenshot of the whole page, not only what the window shows."""
    width, height = driver.get_window_size()["width"], driver.get_window_size()["height"]
    full = driver.execute_script("return document.documentElement.scrollHeight")
    driver.set_window_size(width, max(height, min(full + 100, 4000)))
    driver.save_screenshot(path)
    driver.set_window_size(width, height)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def snapshot_with(template, product, cpu, serial, taken_at, programs=(), disk=None):
    """The template as another machine (or another state of one): its product,
    CPU and serials, when it was taken, programs added or replaced by name,
    and its disk replaced by (model, serial)."""
    data = json.loads(json.dumps(template))
    data["taken-at"] = taken_at
    cimv2 = data["namespaces"]["root\\cimv2"]
    cimv2["Win32_ComputerSystemProduct"][0]["Name"] = product
    cimv2["Win32_Processor"][0]["Name"] = cpu
    cimv2["Win32_BIOS"][0]["SerialNumber"] = serial
    cimv2["Win32_SystemEnclosure"][0]["SerialNumber"] = serial
    cimv2["Win32_BaseBoard"][0]["SerialNumber"] = "B" + serial
    for key, name, version in programs:
        data["registry"][UNINSTALL + key] = {"DisplayName": name, "DisplayVersion": version}
    if disk:
        cimv2["Win32_DiskDrive"][0]["Model"], cimv2["Win32_DiskDrive"][0]["SerialNumber"] = disk
    return data


def make_inputs(template, work):
    """pc-0042 before and after its repair (a disk replaced, 7-Zip upgraded),
    and a machine whose texts are payloads, which then installs one more."""
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    earlier = (now - datetime.timedelta(hours=2)).isoformat()
    later = (now - datetime.timedelta(minutes=5)).isoformat()
    machines = (
        ("pc-0042-before", "Norvane Office 7731", "Intel Core i5-12500", "NRV-7731-0042", earlier, (), None),
        ("pc-0042", "Norvane Office 7731", "Intel Core i5-12500", "NRV-7731-0042", later,
         (("7-Zip", "7-Zip 24.08 (x64)", "24.08"),), ("WD Blue SN580 1TB", "23154X800123")),
        ("payload-pc-before", PAYLOAD_NAME, PAYLOAD_CPU, "NRV-7731-0666", earlier, (), None),
        ("payload-pc", PAYLOAD_NAME, PAYLOAD_CPU, "NRV-7731-0666", later,
         (("Payload", PAYLOAD_PROGRAM, "<script>document.title='PWNED'</script>"),), None),
    )
    inputs = []
    for name, product, cpu, serial, taken_at, programs, disk in machines:
        path = os.path.join(work, name + ".json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(snapshot_with(template, product, cpu, serial, taken_at, programs, disk), f)
        inputs.append(path)
    return inputs


def check_fleet(driver, base, shots):
    """The fleet lists both machines, filters by serial and sorts by model."""
    driver.get(base + "/")
    body = driver.find_element(By.TAG_NAME, "body").text
    check("2 machines" in body, "the fleet does not count 2 machines")
    check(PAYLOAD_NAME in body and PAYLOAD_CPU in body, "the payloads are not shown as text")
    never_ran(driver, "the fleet")
    driver.save_screenshot(os.path.join(shots, "fleet.png"))

    box = driver.find_element(By.ID, "q")
    box.send_keys("NRV-7731-0042")
    navigating(driver, box.submit)
    rows = driver.find_elements(By.CSS_SELECTOR, "tbody tr")
    check(len(rows) == 1 and "pc-0042" in rows[0].text, "the filter did not leave pc-0042 alone")
    never_ran(driver, "the filtered fleet")
    driver.save_screenshot(os.path.join(shots, "fleet-filtered.png"))

    driver.get(base + "/?sort=model&order=desc")
    never_ran(driver, "the fleet sorted by model")
    first = driver.find_elements(By.CSS_SELECTOR, "tbody tr")[0].text
    check("Norvane Office 7731" in first, "sorting by model, descending, did not put Norvane first")


def check_report_frame(driver, where):
    """The newest report shows in its sandboxed frame, and nothing in it runs."""
    frame = driver.find_element(By.CSS_SELECTOR, "iframe.report")
    check(driver.execute_script("return arguments[0].getAttribute('sandbox')", frame) == "",
          "the report frame is not sandboxed without exceptions on " + where)
    driver.switch_to.frame(frame)
    text = driver.find_element(By.TAG_NAME, "body").text
    check("Designation:" in text, "the report frame shows no report on " + where)
    check(not driver.find_elements(By.TAG_NAME, "img") and not driver.find_elements(By.TAG_NAME, "script"),
          "a machine's markup became part of the report on " + where)
    driver.switch_to.default_content()
    never_ran(driver, where)
    return text


def check_machine_and_changes(driver, base, shots):
    """A machine's page shows its disk replaced and 7-Zip upgraded between two
    scans and its newest report in a frame; /changes shows the same across the
    fleet, filtered by name, each line leading to its machine."""
    driver.get(base + "/?q=0042")
    navigating(driver, driver.find_element(By.LINK_TEXT, "pc-0042").click)
    check(driver.find_element(By.TAG_NAME, "h1").text == "pc-0042", "the machine link did not open its page")
    body = driver.find_element(By.TAG_NAME, "body").text
    check("Disks removed: Samsung SSD 980 500GB [0025_3852_1190_1A2B.]" in body, "the removed disk is not shown")
    check("Disks added: WD Blue SN580 1TB [23154X800123]" in body, "the new disk is not shown")
    check("Programs upgraded: " + UPGRADE in body, "the 7-Zip upgrade is not one line")
    check("first scan" in body, "the first scan is not marked")
    report = check_report_frame(driver, "pc-0042's page")
    check("WD Blue SN580 1TB" in report, "the frame does not show the newest report")
    whole_page_screenshot(driver, os.path.join(shots, "machine.png"))

    driver.get(base + "/?q=0666")
    navigating(driver, driver.find_element(By.LINK_TEXT, "payload-pc").click)
    body = driver.find_element(By.TAG_NAME, "body").text
    check("Programs installed: " + PAYLOAD_PROGRAM in body, "the payload program is not shown as text")
    never_ran(driver, "the payload machine's page")
    check(PAYLOAD_PROGRAM in check_report_frame(driver, "the payload machine's page"),
          "the payload program is not text in the report")
    whole_page_screenshot(driver, os.path.join(shots, "machine-payload.png"))

    navigating(driver, driver.find_element(By.LINK_TEXT, "Changes").click)
    body = driver.find_element(By.TAG_NAME, "body").text
    check("4 changes" in body, "the fleet does not show 4 changes")
    check(UPGRADE in body and PAYLOAD_PROGRAM in body, "the changes do not show the upgrade and the payload")
    never_ran(driver, "the changes")
    whole_page_screenshot(driver, os.path.join(shots, "changes-all.png"))
    Select(driver.find_element(By.ID, "section")).select_by_visible_text("Disks")
    Select(driver.find_element(By.ID, "when")).select_by_visible_text("this month")
    navigating(driver, driver.find_element(By.CSS_SELECTOR, "form.filters button").click)
    check("section=disks" in driver.current_url and "when=month" in driver.current_url,
          "the filter is not in the address")
    rows = driver.find_elements(By.CSS_SELECTOR, "tbody tr")
    check(len(rows) == 2 and all("pc-0042" in row.text and "Disks" in row.text for row in rows),
          "disks replaced this month are not pc-0042's two lines")
    never_ran(driver, "the changes filtered")
    driver.save_screenshot(os.path.join(shots, "changes.png"))
    navigating(driver, rows[0].find_element(By.LINK_TEXT, "pc-0042").click)
    check(driver.find_element(By.TAG_NAME, "h1").text == "pc-0042", "a change's line does not lead to its machine")


# Each takes (driver, base, shots) and runs signed in as a viewer.
STEPS = [check_fleet, check_machine_and_changes, console_pages_browser.check_search_dashboard_admin]


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
        subprocess.run([store, "add", "--db", db] + make_inputs(template, work), check=True, capture_output=True)
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

        driver.get(base + "/")
        check(driver.current_url.endswith("/login"), "the fleet without a session did not lead to /login")
        driver.save_screenshot(os.path.join(shots, "login.png"))
        driver.find_element(By.ID, "name").send_keys("anna")
        driver.find_element(By.ID, "password").send_keys("s3cret-pass")
        navigating(driver, driver.find_element(By.CSS_SELECTOR, "main button[type=submit]").click)
        check(driver.find_element(By.TAG_NAME, "h1").text == "Fleet", "signing in did not show the fleet")

        for step in STEPS:
            step(driver, base, shots)

        navigating(driver, driver.find_element(By.CSS_SELECTOR, "form.signout button").click)
        check(driver.current_url.endswith("/login"), "signing out did not lead to /login")
        driver.get(base + "/")
        check(driver.current_url.endswith("/login"), "the fleet is still shown after signing out")
        driver.save_screenshot(os.path.join(shots, "signed-out.png"))
        print("console_browser_test: %d passed, 0 failed" % len(STEPS))
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
