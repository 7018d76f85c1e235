"""Search, the dashboard and administration in the browser, for
console_browser_test.py: search for a program, open the dashboard, see that a
viewer is refused /admin, then as an administrator create and revoke an
enrolment secret. Screenshots of each page go to the shots folder.

The main test signs in as the viewer "anna" and adds the administrator
"root" (password ADMIN_PASSWORD) before calling check_search_dashboard_admin;
it leaves root signed in, for the main test's sign-out."""
import os

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from browser_checks import check, navigating, never_ran

ADMIN_NAME = "root"
ADMIN_PASSWORD = "r00t-password"


def _labelled(driver):
    """Every visible form field has a label that names it."""
    for field in driver.find_elements(By.CSS_SELECTOR, "main input:not([type=hidden]), main select"):
        ident = field.get_attribute("id")
        check(ident and driver.find_elements(By.CSS_SELECTOR, "label[for='%s']" % ident),
               "a field without a label on " + driver.current_url)


def check_search_dashboard_admin(driver, base, shots):
    # Search, by the keyboard: the program box, typed into, Enter.
    driver.get(base + "/search")
    _labelled(driver)
    box = driver.find_element(By.ID, "program")
    box.send_keys("7-zip")
    navigating(driver, lambda: box.send_keys(Keys.ENTER))
    body = driver.find_element(By.TAG_NAME, "body").text
    check("2 machines found" in body, "searching for 7-Zip did not find both machines")
    check("7-Zip 23.01 (x64) 23.01" in body, "the search does not show the program found")
    never_ran(driver, "the search")
    driver.save_screenshot(os.path.join(shots, "search.png"))
    navigating(driver, driver.find_element(By.LINK_TEXT, "pc-0042").click)
    check(driver.find_element(By.TAG_NAME, "h1").text == "pc-0042", "a search result did not lead to its machine")

    driver.get(base + "/dashboard")
    check(driver.find_element(By.TAG_NAME, "h1").text == "Dashboard", "the dashboard did not open")
    charts = driver.find_elements(By.CSS_SELECTOR, "svg.chart")
    check(len(charts) == 5, "the dashboard does not draw its 5 charts")
    check(all(c.size["width"] > 100 for c in charts), "a chart is not drawn")
    never_ran(driver, "the dashboard")
    driver.save_screenshot(os.path.join(shots, "dashboard.png"))
    # At 200% the page still fits its width: nothing to scroll sideways.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 700, "height": 900, "deviceScaleFactor": 2, "mobile": False})
    driver.get(base + "/dashboard")
    wide = driver.execute_script("return document.documentElement.scrollWidth > document.documentElement.clientWidth + 2")
    driver.save_screenshot(os.path.join(shots, "dashboard-narrow.png"))
    driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
    check(not wide, "the dashboard scrolls sideways in a narrow window")

    driver.get(base + "/admin")
    check("Only an administrator" in driver.find_element(By.TAG_NAME, "body").text, "a viewer reached /admin")
    check(not driver.find_elements(By.LINK_TEXT, "Admin"), "a viewer is offered the admin page")

    # As the administrator.
    navigating(driver, driver.find_element(By.CSS_SELECTOR, "form.signout button").click)
    driver.find_element(By.ID, "name").send_keys(ADMIN_NAME)
    driver.find_element(By.ID, "password").send_keys(ADMIN_PASSWORD)
    navigating(driver, driver.find_element(By.CSS_SELECTOR, "main button[type=submit]").click)
    navigating(driver, driver.find_element(By.LINK_TEXT, "Admin").click)
    check(driver.find_element(By.TAG_NAME, "h1").text == "Administration", "the admin page did not open")
    _labelled(driver)
    note = driver.find_element(By.ID, "note")
    note.send_keys("front office")
    navigating(driver, note.submit)
    secret = driver.find_element(By.ID, "new-secret").get_attribute("value")
    check(len(secret) == 64, "the new secret is not shown")
    driver.save_screenshot(os.path.join(shots, "admin-secret.png"))
    navigating(driver, driver.find_element(By.XPATH, "//button[starts-with(., 'Revoke secret')]").click)
    body = driver.find_element(By.TAG_NAME, "body").text
    check(secret not in driver.page_source, "the secret is shown again")
    check("front office" in body and not driver.find_elements(By.XPATH, "//button[starts-with(., 'Revoke secret')]"),
           "the secret was not revoked")
    never_ran(driver, "the admin page")
    driver.save_screenshot(os.path.join(shots, "admin.png"))
