"""What every browser test of the console checks with: a failure that ends
the test with its reason, a wait for the next page after a click, and the
watch for a machine's payload that ran."""
import sys

from selenium.common.exceptions import NoAlertPresentException, WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


def fail(message):
    print("console_browser_test: FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def _gone(element):
    """The element's page is gone: Chromium says so as a stale element, or
    as a node that no longer belongs to the document."""
    try:
        element.is_enabled()
        return False
    except WebDriverException:
        return True


def navigating(driver, action):
    """Runs an action that leaves the page (a click, a submit) and returns once
    the next page has loaded: a click returns before the browser has followed
    it, and a loaded machine may take seconds to answer."""
    old = driver.find_element(By.TAG_NAME, "html")
    action()
    wait = WebDriverWait(driver, 30)
    wait.until(lambda d: _gone(old))
    wait.until(lambda d: d.execute_script("return document.readyState") == "complete")


def never_ran(driver, where):
    """Fails when a machine's payload ran or became markup on this page."""
    try:
        alert = driver.switch_to.alert
        fail("an alert opened on %s: %s" % (where, alert.text))
    except NoAlertPresentException:
        pass
    check(driver.title != "PWNED", "a machine's script ran on " + where)
    check(not driver.find_elements(By.CSS_SELECTOR, "main img"), "a machine's image became markup on " + where)
