#!/usr/bin/python3
"""The dashboard in headless Chromium against the real front.

Run as `dashboard_test.py BUILD_DIR`: it runs itself inside
deploy/web-sandbox.sh (nginx, the login check, the tool, vigild on its fake
machine) and keeps the screenshots in BUILD_DIR/tests/web/.
"""
import base64
import os
import pathlib
import subprocess
import sys


def outside(build):
    source = pathlib.Path(__file__).resolve().parents[2]
    for program in ('/usr/bin/chromium', '/usr/bin/chromedriver'):
        if not os.access(program, os.X_OK):
            sys.exit(f'FAIL: {program} is missing (tools/install-deps.sh installs it)')
    script = pathlib.Path(__file__).read_bytes()
    run = subprocess.run([source / 'deploy/web-sandbox.sh', build, '/usr/bin/python3 - inside'],
                         input=script, capture_output=True, timeout=300)
    artifacts = pathlib.Path(build, 'tests/web')
    artifacts.mkdir(parents=True, exist_ok=True)
    failed = run.returncode != 0
    for line in run.stdout.decode().splitlines():
        if line.startswith('artifact '):
            _, name, data = line.split(' ', 2)
            (artifacts / name).write_bytes(base64.b64decode(data))
            print(f'screenshot: {artifacts / name}')
        else:
            print(line)
            failed = failed or line.startswith('FAIL')
    sys.stderr.write(run.stderr.decode()[-4000:] if failed else '')
    sys.exit(1 if failed else 0)


def inside():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    options = webdriver.ChromeOptions()
    for flag in ('--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--disable-gpu',
                 '--ignore-certificate-errors', '--window-size=1200,1000', '--lang=en-US'):
        options.add_argument(flag)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    find = lambda css: driver.find_element(By.CSS_SELECTOR, css)
    failures = []

    def check(name, condition, seconds=30):  # generous: CI runs it beside other suites
        try:
            WebDriverWait(driver, seconds, poll_frequency=0.1).until(lambda d: condition())
            print(f'ok {name}')
        except Exception:
            failures.append(name)
            print(f'FAIL {name}')

    def text(css):
        return find(css).text

    def sign_in(user, password):
        if find('#sign-out').is_displayed():
            find('#sign-out').click()
        find('#login [name=user]').clear()
        find('#login [name=user]').send_keys(user)
        find('#login [name=password]').send_keys(password + '\n')
        if password == 'secret':
            check(f'{user} signs in', lambda: find('#dashboard').is_displayed())

    def confirm(button, answer, plan=''):
        find(button).click()
        check(f'{button} asks first, showing the plan {plan}',
              lambda: find('#confirm').is_displayed() and plan in text('#confirm-plan'))
        find('#confirm-ok' if answer else '#confirm [value=cancel]').click()

    def keep(name):
        print(f'artifact {name} {driver.get_screenshot_as_base64()}')

    def calls():
        return pathlib.Path('/web/calls').read_text() if os.path.exists('/web/calls') else ''

    # A profile to search: the inventory tool's stand-in prints three lines.
    pathlib.Path('/usr/sbin/machreport').write_text(
        '#!/bin/sh\nprintf "Hardware\\n  Model: Demo 9000\\n  Serial: K-17\\n"\n')

    options_node = pathlib.Path('/var/lib/stewardd/registry/IODeviceTree/options')
    options_node.mkdir(parents=True)
    (options_node / 'boot-device').write_text('Boot0003\n')
    entry = '<dict><key>Name</key><string>Boot000%d</string><key>Description</key><string>%s' \
        '</string><key>Active</key><true/></dict>'
    (options_node / 'boot-devices').write_text(
        f'<plist version="1.0"><array>{entry % (1, "network")}{entry % (3, "disk")}</array></plist>')

    driver.get('https://localhost/')
    sign_in('alice', 'secret')
    sensors = {'temperature': 'CPU', 'fan': '2400 RPM min 600',
               'voltage': '1.200 V min 1.000 · max 1.400'}
    for kind, row in sensors.items():
        check(f'{kind} sensor shown with unit and limits', lambda: row in text(f'#kind-{kind}'))
    check('limits shown', lambda: '41.5 °C max 85.0 · crit 95.0' in text('#kind-temperature'))
    check('health shown', lambda: text('#health') == 'ok')
    find('#kind-temperature button').click()
    check('a sensor opens its chart',
          lambda: find('#kind-temperature tr.chart svg circle').is_displayed())
    find('#light-minutes').send_keys('10')
    find('#light-reason').send_keys('disk 3')
    find('#light').click()
    check('the switch turns the light on', lambda: text('#light-state') == 'on' and
          pathlib.Path('/sys/class/leds/front::service/brightness').read_text().strip() == '1')
    check('the light shows its owner, reason and time left',
          lambda: 'lit by alice, “disk 3”, 9 min' in text('#light-lease'))
    pathlib.Path('/sys/class/hwmon/hwmon0/temp1_input').write_text('90000\n')
    check('a sensor over its maximum raises an alarm', lambda: text('#health') == 'warning' and
          all(s in text('#kind-temperature tr.alarm') for s in ('90.0 °C', 'ALARM')), 15)
    keep('dashboard.png')

    driver.set_window_size(390, 844)
    check('no horizontal overflow at a phone\'s width',
          lambda: driver.execute_script(
              'return document.documentElement.scrollWidth <= innerWidth'))
    keep('dashboard-phone.png')
    driver.set_window_size(1200, 1000)

    find('#restart').click()
    find('#power-options [name=delay]').clear()
    find('#power-options [name=delay]').send_keys('5\t')
    check('the plan follows the dialog\'s delay', lambda: '--on-active=5s' in text('#confirm-plan'))
    find('#confirm [value=cancel]').click()
    confirm('#restart', False, 'Runs /sbin/shutdown -r now')
    check('a cancelled restart does nothing', lambda: 'shutdown' not in calls() and
          not text('#power-result'), 1)
    form = find('#email')
    form.find_element(By.NAME, 'Recipients').send_keys('ops@example.org, pager@example.org')
    form.find_element(By.NAME, 'HoldOff').send_keys('120')
    form.find_element(By.CSS_SELECTOR, 'button:not([type])').click()
    check('e-mail settings saved, the other settings kept',
          lambda: text('#email-result') == 'Saved.' and
          all(s in pathlib.Path('/etc/vigild.conf').read_text() for s in
              ('<string>pager@example.org</string>', '<integer>120</integer>', 'front::service')))
    find('#boot-read').click()
    check('the boot device read',
          lambda: text('#boot-result') == 'The machine starts from Boot0003.')
    find('#boot-form option[value=Boot0001]').click()
    find('#boot-form [name=once]').click()
    confirm('#boot-form button:not([type])', True, 'boot-device-once: (none) → Boot0001')
    check('the next start\'s device chosen from the list', lambda: text('#boot-result') ==
          'Next start from Boot0001 (not read back).' and 'nvram boot-device-once=Boot0001' in calls())
    log = pathlib.Path('/var/lib/stewardd/audit.log')
    for verdict in ('the chain is intact', 'THE CHAIN IS BROKEN'):
        find('#audit-read').click()
        check(f'the audit log shows the boot change and says {verdict}',
              lambda: verdict in text('#audit-result') and 'setBootPath' in text('#audit table'))
        log.write_text(log.read_text().replace('"alice"', '"mallory"', 1))
    find('#profile-load').click()
    check('the profile loads', lambda: 'Serial: K-17' in text('#profile'))
    find('#profile-search').send_keys('model')
    check('the profile search keeps matching lines',
          lambda: text('#profile').strip() == 'Model: Demo 9000' and
          text('#profile-count') == '1 of 3 lines')

    sign_in('carol', 'secret')
    check('a plain user sees the sensors', lambda: '2400 RPM' in text('#sensors'))
    check('a plain user is offered no audit view', lambda: not find('#audit').is_displayed())
    for button, words in (('#restart', 'refused: only administrators'),
                          ('#shutdown', 'CONNECT-AUTH')):
        confirm(button, True)
        check(f'{button} refused in words', lambda: words in text('#power-result'))
    find('#boot-read').click()
    check('a refused boot device read in words', lambda: 'CONNECT-AUTH' in text('#boot-result'))
    check('nothing went down for a plain user', lambda: 'shutdown' not in calls(), 0)
    sign_in('alice', 'secret')
    confirm('#restart', True)
    check('an administrator restarts', lambda: text('#power-result') == 'Restarting now.' and
          '/sbin/shutdown -r now' in calls())
    errors = [entry['message'] for entry in driver.get_log('browser') if entry['level'] == 'SEVERE']
    check(f'no console errors {errors}', lambda: not errors, 0)
    # The page's property-list module: what it reads, it writes back the same;
    # what it refuses, the browser logs (an error page's inline style).
    head = '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">'
    for value in ('<string>a &amp; &lt;b&gt; °C</string>', '<real>2.5</real>',
                  '<integer>-3</integer>', '<date>2026-12-07T02:30:00Z</date>',
                  '<data>AAEC/w==</data>', '<array><true/><false/></array>',
                  '<dict><key>__proto__</key><dict></dict><key>&lt;</key><true/></dict>'):
        again = driver.execute_script('return plist.stringify(plist.parse(arguments[0]))',
                                      f'{head}{value}</plist>')
        check(f'plist {value} read and written', lambda: again == f'{head}{value}</plist>\n', 0)
    for bad in ('<plist><dict><key>a</key></dict></plist>', '<html/>', '<plist><blob/></plist>',
                '<plist><integer>x</integer></plist>', '<plist><string>a</plist>'):
        failed = driver.execute_script(
            'try { plist.parse(arguments[0]) } catch (e) { return 1 }', bad)
        check(f'plist {bad} refused', lambda: failed == 1, 0)
    sign_in('alice', 'wrong')
    check('a wrong password said in words',
          lambda: 'not accepted (HTTP 401)' in text('#login-result'))
    for _ in range(5):
        sign_in('alice', 'wrong')
        WebDriverWait(driver, 30).until(lambda d: text('#login-result').startswith('Not signed in'))
    check('a locked-out address said in words',
          lambda: 'too many failed logins' in text('#login-result'))
    driver.quit()
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    inside() if sys.argv[1:] == ['inside'] else outside(sys.argv[1])
