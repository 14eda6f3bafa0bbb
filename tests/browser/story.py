"""A seller's story in headless Chromium against a fresh site served by lighttpd:
an ad full of markup is placed, listed, found by the seller's name, unlocked,
updated and deleted; pages show the markup as text and run none of it; the data
files are refused. Screenshots land in tests/browser/artifacts/.
    /usr/bin/python3 tests/browser/story.py PATH/TO/qbcgi
Exits 77 (skipped) when a tool is missing, or 1 when CI is set (not "false")."""
import http.client, os, shutil, sys, tempfile, urllib.parse
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / 'load'))
from load_and_faults import serve  # noqa: E402
CHROMIUM, DRIVER = '/usr/bin/chromium', '/usr/bin/chromedriver'
LIGHTTPD = shutil.which('lighttpd') or '/usr/sbin/lighttpd'
missing = [p for p in (CHROMIUM, DRIVER, LIGHTTPD) if not os.access(p, os.X_OK)]
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.expected_conditions import staleness_of
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    missing.append('selenium (python3-selenium)')
if missing:
    under_ci = os.environ.get('CI', '') not in ('', 'false')
    print(f"browser test {'FAILED' if under_ci else 'SKIPPED'}: missing {', '.join(missing)}")
    sys.exit(1 if under_ci else 77)

AD = {'Category': 'Electronics', 'Item': '<script>window.pwned=1</script><b>Radio</b> "DAB"',
      'Name': 'Ann "Q" <b>Lee</b>', 'Email': "ann@example.org'", 'Phone': '<b>555</b>',
      'Price': '75 "firm"', 'Desc': '<img src=x onerror="pwned=2"> & chips'}
PASSWORD, NEW_PRICE = 'Oak9Desk', '<i>60</i>'
MARKUP = """return document.querySelectorAll('img[src="x"]').length ||
    [...document.querySelectorAll('b, i')].some(e => ['Radio', 'Lee', '555', '60'].includes(e.textContent))"""


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--window-size=1100,800', f'--user-data-dir={profile}'):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(DRIVER), options=options)


def story(b, base, shot):
    def page_text():
        assert 'internal error' not in b.page_source, f'error page at {b.current_url}'
        assert b.execute_script('return typeof window.pwned') == 'undefined', 'a script of the ad ran'
        assert not b.execute_script(MARKUP), 'the markup of the ad became elements'
        return b.find_element(By.TAG_NAME, 'body').text

    def go(element):  # follows a link or sends a form, then waits for the next page
        old = b.find_element(By.TAG_NAME, 'html')
        element.click()
        WebDriverWait(b, 10, ignored_exceptions=[Exception]).until(staleness_of(old))  # Chromium may err mid-way

    click = lambda text: go(b.find_element(By.LINK_TEXT, text))

    def fill(form_action, fields, submit):
        form = b.find_element(By.CSS_SELECTOR, f'form[action$="Action={form_action}"]')
        for name, value in fields.items():
            field = form.find_element(By.NAME, name)
            if field.tag_name == 'select':
                Select(field).select_by_visible_text(value)
            else:
                field.clear()
                field.send_keys(value)
        go(form.find_element(By.CSS_SELECTOR, f'input[type=submit][value="{submit}"]'))

    def listing():
        b.get(base + 'qbcgi.exe?action=Main')
        click('Show Ads')
        click(AD['Category'])
        return page_text()

    def unlock(password):
        b.get(base)  # the bare address leads to the main page
        fill('Getedit', {'Name': AD['Name']}, 'Get Ads')
        assert AD['Item'] in page_text(), "the seller's ads hold the ad"
        go(b.find_element(By.CSS_SELECTOR, 'a[href*="Action=Getpw"]'))
        fill('Edit', {'pw': password}, 'Get Item')
        return page_text()

    b.get(base)
    click('Place an Ad')
    fill('ADD', {**AD, 'Password': PASSWORD}, 'Place Ad')
    assert 'Entered Successfully' in page_text(), 'the ad is placed'
    shot('placed')
    text = listing()
    shot('listed')
    assert all(AD[f] in text for f in ('Item', 'Name', 'Price', 'Desc')), f'fields not shown as typed: {text}'
    unlock(PASSWORD.swapcase())
    shot('unlocked')
    for name in ('Item', 'Email', 'Phone', 'Price', 'Desc'):
        assert b.find_element(By.NAME, name).get_property('value') == AD[name], f'{name} on the edit page'
    fill('Update', {'Price': NEW_PRICE}, 'Update Ad')
    page_text()
    text = listing()
    shot('updated')
    assert NEW_PRICE in text and AD['Price'] not in text and AD['Item'] in text, 'the new price is listed'
    unlock(PASSWORD)
    fill('Delete', {}, 'Delete Ad')
    page_text()
    assert AD['Item'] not in listing(), 'the deleted ad is gone'
    shot('deleted')
    for name in ('qbcgi.cfg', 'qb.db', 'qb.db.lock'):
        conn = http.client.HTTPConnection(urllib.parse.urlsplit(base).netloc)
        conn.request('GET', '/' + name)
        assert conn.getresponse().status == 403, f'{name} is served'


def main():
    artifacts = HERE / 'artifacts'
    artifacts.mkdir(exist_ok=True)
    for old in artifacts.glob('story-*.png'):
        old.unlink()
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as profile:
        server, port, _, _ = serve(os.path.abspath(sys.argv[1]), work)  # the load test's: a fresh site, lighttpd
        base = f'http://127.0.0.1:{port}/'
        try:
            b, shots = browser(profile), iter(range(1, 100))
            shot = lambda name: b.save_screenshot(str(artifacts / f'story-{next(shots):02d}-{name}.png'))
            try:
                story(b, base, shot)
            except Exception:
                shot('failed')
                print(f'browser test FAILED at {b.current_url}')
                raise
            finally:
                b.quit()
        finally:
            server.terminate()
            server.wait()
    print('browser test: the story passed')


main()
