# The web view in a real browser (headless chromium through chromedriver): logs in, sees a lamp
# change within a second of the station's own window, opens a unit's trend, and saves the three
# pages at phone and desktop width as PNG files in the folder given.
import base64, os, sys, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait
from webstation import Station

binary, shots = sys.argv[1], sys.argv[2]
os.makedirs(shots, exist_ok=True)
station = Station(binary, 'mado no soto')
options = webdriver.ChromeOptions()
options.binary_location = '/usr/bin/chromium'
for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--lang=ja'):
    options.add_argument(a)
driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
base = 'http://127.0.0.1:%d' % station.port


def shot(name):  # the whole page, not only what fits the window
    size = driver.execute_script('return [window.innerWidth, document.documentElement.scrollHeight]')
    png = driver.execute_cdp_cmd('Page.captureScreenshot', {'captureBeyondViewport': True, 'clip': {
        'x': 0, 'y': 0, 'width': size[0], 'height': size[1], 'scale': 1}})['data']
    with open(os.path.join(shots, name + '.png'), 'wb') as f:
        f.write(base64.b64decode(png))

wait = WebDriverWait(driver, 20)
try:
    driver.set_window_size(1280, 900)
    driver.get(base + '/')
    assert driver.current_url.endswith('/login'), driver.current_url
    driver.find_element(By.ID, 'password').send_keys('mado no soto')
    driver.find_element(By.ID, 'login').click()
    wait.until(lambda d: d.find_element(By.ID, 'unit-0').get_attribute('data-lamp') == 'good')
    station.wait_lamp(0, 'good', 10)
    assert driver.find_element(By.ID, 'unit-1').get_attribute('data-lamp') == 'none'

    # The time the page's lamp changed, noted by the page itself.
    driver.execute_script("""
      const li = document.getElementById('unit-0');
      new MutationObserver(() => { if (li.dataset.lamp === 'given_up' && !window.seen) window.seen = Date.now(); })
        .observe(li, {attributes: true});""")
    station.send('fault 0 down')
    shown = station.wait_lamp(0, 'given_up', 15)
    seen = wait.until(lambda d: d.execute_script('return window.seen'))
    print('lamp change: station window %d, browser %d, browser later by %d ms' % (shown, seen, seen - shown))
    assert seen - shown <= 1000, 'the browser saw the change %d ms after the window' % (seen - shown)

    station.send('din 2 0 1')  # an alarm for the pages to show
    wait.until(lambda d: 'アラーム' in d.find_element(By.ID, 'unit-2').text)
    for width, height, name in ((390, 844, 'phone'), (1280, 900, 'desktop')):
        driver.set_window_size(width, height)
        driver.get(base + '/')
        wait.until(lambda d: d.find_element(By.ID, 'unit-2').get_attribute('data-lamp') == 'good')
        shot('overview-' + name)
        driver.get(base + '/alarms')
        wait.until(lambda d: '件' in d.find_element(By.ID, 'status').text)
        assert '発生' in driver.find_element(By.ID, 'alarms').text
        shot('alarms-' + name)
        driver.get(base + '/')
        # the unit's page, as a person gets there, once the page has drawn its list
        wait.until(lambda d: d.find_element(By.CSS_SELECTOR, '#unit-0 a')).click()
        wait.until(lambda d: int(d.find_element(By.ID, 'trend').get_attribute('data-buckets') or 0) > 0)
        driver.find_element(By.CSS_SELECTOR, 'button[data-span="24h"]').click()
        wait.until(lambda d: d.execute_script("return document.querySelector('button[data-span=\"24h\"]')"
                                              ".getAttribute('aria-pressed') === 'true' && !!document.getElementById('trend').dataset.buckets"))
        time.sleep(0.5)
        assert '水位（RA0）' in driver.find_element(By.ID, 'readings').text  # the channel table's words
        assert '水位(m)' in driver.find_element(By.ID, 'series').text
        trend = driver.find_element(By.ID, 'trend')
        buckets, columns = int(trend.get_attribute('data-buckets')), int(trend.get_attribute('data-columns'))
        assert 0 < buckets <= columns, (buckets, columns)
        shot('unit-' + name)
        print('%s: trend of 24 h in %d buckets for %d columns' % (name, buckets, columns))
finally:
    driver.quit()
    station.stop()
print('browser test passed; screenshots in', shots)
