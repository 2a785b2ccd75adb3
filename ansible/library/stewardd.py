#!/usr/bin/python3
# One request to a machine's administration service over HTTPS, reported
# the way Ansible modules report: changed, failed, the reply as data.
# Python's standard library only, so any controller can run it.

DOCUMENTATION = r'''
module: stewardd
short_description: Send one request to a machine's administration service
description:
  - Sends one XML property-list request to C(https://HOST/stewardd/steward_kestrel)
    and returns the reply as data.
  - 'Runs on the controller (C(delegate_to: localhost) or C(connection: local));
    it talks HTTPS to each host itself.'
  - Read-only commands (C(status), C(profile), C(getBootPath)) never report a change.
    C(serviceid), C(setBootPath) and C(email) read the current value first and send
    nothing when it is already the wanted one; C(restart) and C(shutdown) always change.
  - A refusal (C(CONNECT-AUTH), the user is not in the group C(admin)), an error reply
    of the service, an HTTP error or a certificate that cannot be verified fails the
    task, with the service's words in C(msg).
options:
  host:
    description: The machine, C(NAME) or C(NAME:PORT); the certificate must be valid for NAME.
    type: str
    required: true
  command:
    description: The request.
    type: str
    required: true
    choices: [status, profile, getBootPath, serviceid, email, setBootPath, restart, shutdown]
  state:
    description: The wanted state of the service (identify) light; required by C(serviceid).
    type: bool
  bootpath:
    description: The new boot device; required by C(setBootPath).
    type: str
  email:
    description:
      - The whole settings file of the hardware monitor, with its C(Email) dictionary;
        required by C(email). The service replaces the file with it.
      - Unchanged when C(status) already shows every given entry with the given value
        (C(Email) without C(Localizable) and C(Responses), which status leaves out).
    type: dict
  user:
    description: User name for HTTP Basic authentication; C(restart), C(shutdown), C(setBootPath)
      and C(getBootPath) need a member of the group C(admin).
    type: str
    required: true
  password:
    description: The user's password (keep it in a vault).
    type: str
    required: true
  ca_cert:
    description: File of the certificate authority to trust, for a private or self-signed certificate.
      The certificate is always verified.
    type: path
  timeout:
    description: Seconds to wait for each answer.
    type: int
    default: 30
notes:
  - Check mode is supported; read-only commands are sent, changing ones are not. A check of
    C(restart), C(shutdown) or C(setBootPath) asks C(getBootPath) first, which is reserved to
    administrators as well, and fails when that is refused.
'''

EXAMPLES = r'''
- name: Light the identify light
  stewardd:
    host: "{{ inventory_hostname }}"
    command: serviceid
    state: true
    user: "{{ stewardd_user }}"
    password: "{{ stewardd_password }}"
    ca_cert: files/site-ca.pem
  delegate_to: localhost

- name: Read the hardware status
  stewardd:
    host: "{{ inventory_hostname }}"
    command: status
    user: "{{ stewardd_user }}"
    password: "{{ stewardd_password }}"
  delegate_to: localhost
  register: status

- name: Choose the boot device
  stewardd:
    host: "{{ inventory_hostname }}"
    command: setBootPath
    bootpath: "Boot0001"
    user: "{{ stewardd_user }}"
    password: "{{ stewardd_password }}"
  delegate_to: localhost
'''

RETURN = r'''
reply:
  description: The service's reply dictionary (dates as ISO 8601 text, data as base64).
    For C(status) it holds Health, Sensors, PowerSupplies, ServiceLight and the settings.
  returned: when the request was sent
  type: dict
  sample: {"Health": "ok", "ServiceLight": {"Available": true, "On": false}}
'''

import base64
import datetime
import plistlib
import ssl
import urllib.error
import urllib.request
from xml.parsers.expat import ExpatError

from ansible.module_utils.basic import AnsibleModule

READ_ONLY = ('status', 'profile', 'getBootPath')
NAME_MISMATCH = (62, 64)  # X509_V_ERR_HOSTNAME_MISMATCH, X509_V_ERR_IP_ADDRESS_MISMATCH
HTTP_REASONS = {401: 'the user name or password was not accepted',
                429: 'too many failed logins from this address; wait and try again'}


class Failure(Exception):
    """A failed request; unanswered when the service gave no reply of its own."""

    def __init__(self, message, answered=False):
        Exception.__init__(self, message)
        self.answered = answered


def to_data(value):
    """The reply as JSON-friendly data."""
    if isinstance(value, dict):
        return {key: to_data(item) for key, item in value.items()}
    if isinstance(value, list):
        return [to_data(item) for item in value]
    if isinstance(value, datetime.datetime):
        return value.isoformat()
    if isinstance(value, bytes):
        return base64.b64encode(value).decode('ascii')
    return value


def post(params, body):
    """The answer's bytes, or Failure."""
    host = params['host']
    try:
        context = ssl.create_default_context(cafile=params['ca_cert'])
    except (OSError, ssl.SSLError) as error:
        raise Failure('cannot read ca_cert %s (%s)' % (params['ca_cert'], error))
    credentials = '%s:%s' % (params['user'], params['password'])
    http = urllib.request.Request(
        'https://%s/stewardd/steward_kestrel' % host, data=body, method='POST',
        headers={'Content-Type': 'application/xml',
                 'Authorization': 'Basic ' + base64.b64encode(credentials.encode()).decode()})
    try:
        with urllib.request.urlopen(http, context=context, timeout=params['timeout']) as answer:
            return answer.read()
    except urllib.error.HTTPError as error:
        reason = HTTP_REASONS.get(error.code, error.reason)
        raise Failure('%s: %s (HTTP %d)' % (host, reason, error.code))
    except (urllib.error.URLError, OSError) as error:
        reason = getattr(error, 'reason', error)
        if isinstance(reason, ssl.SSLCertVerificationError):
            hint = ('name the machine as its certificate does' if reason.verify_code in NAME_MISMATCH
                    else 'for a private certificate authority give ca_cert')
            raise Failure("%s: the server's certificate cannot be trusted (%s); %s"
                          % (host, reason.verify_message, hint))
        if isinstance(reason, TimeoutError):
            raise Failure('%s: no answer within %d s' % (host, params['timeout']))
        raise Failure('%s: cannot connect (%s)' % (host, reason))


def exchange(params, request):
    """Sends one request; returns the reply dictionary or raises Failure."""
    host = params['host']
    try:
        reply = plistlib.loads(post(params, plistlib.dumps(request)), fmt=plistlib.FMT_XML)
    except (ValueError, ExpatError):
        raise Failure('%s: the answer is not a property list' % host)
    if not isinstance(reply, dict):
        raise Failure('%s: the answer is not a dictionary' % host)
    if 'error' in reply:
        raise Failure('%s: the service answered with an error (%s)' % (host, reply['error']), True)
    if reply.get('Message') == 'CONNECT-AUTH':
        raise Failure('%s: refused: %s is not an administrator (CONNECT-AUTH)'
                      % (host, params['user']))
    if reply.get('OSStatus', 0) != 0:
        raise Failure('%s: the service answered OSStatus %s' % (host, reply['OSStatus']), True)
    return reply


def read(params, command):
    """The reply to a read-only request, None when the service has none."""
    try:
        return exchange(params, {'command': command})
    except Failure as failure:
        if not failure.answered:
            raise
        return None


def in_place(params):
    """Whether the wanted value is already in place; False when it cannot be read."""
    command = params['command']
    if command in ('setBootPath', 'restart', 'shutdown'):
        # Reserved to administrators like the change itself: a refusal answers for both.
        current = read(params, 'getBootPath')
        return command == 'setBootPath' and current is not None and \
            current.get('Message') == params['bootpath']
    status = read(params, 'status') or {}
    if command == 'serviceid':
        light = status.get('ServiceLight')
        return isinstance(light, dict) and bool(light.get('Available')) and \
            bool(light.get('On')) == params['state']
    for key, wanted in params['email'].items():
        if key == 'Email' and isinstance(wanted, dict):
            # Left out of the status, so never compared.
            wanted = {k: v for k, v in wanted.items() if k not in ('Localizable', 'Responses')}
        if to_data(status.get(key)) != wanted:
            return False
    return True


def request_of(params):
    request = {'command': params['command']}
    if params['command'] == 'serviceid':
        request['state'] = 1 if params['state'] else 0
    elif params['command'] == 'setBootPath':
        request['bootpath'] = params['bootpath']
    elif params['command'] == 'email':
        request['email'] = params['email']
    return request


def run(module):
    params = module.params
    command = params['command']
    if command == 'email' and not isinstance(params['email'].get('Email'), dict):
        module.fail_json(msg='email must be the whole settings file, with an "Email" dictionary')
    request = request_of(params)
    try:
        plistlib.dumps(request)
    except (TypeError, ValueError, OverflowError) as error:
        module.fail_json(msg='the request cannot be written as a property list (%s)' % error)
    if command in READ_ONLY:
        module.exit_json(changed=False, reply=to_data(exchange(params, request)))
    # A real restart or shutdown needs no look first: it always changes the
    # machine, and a refusal comes as its own reply.
    if module.check_mode or command not in ('restart', 'shutdown'):
        changed = not in_place(params)
        if module.check_mode or not changed:
            module.exit_json(changed=changed)
    module.exit_json(changed=True, reply=to_data(exchange(params, request)))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            host=dict(type='str', required=True),
            command=dict(type='str', required=True,
                         choices=['status', 'profile', 'getBootPath', 'serviceid', 'email',
                                  'setBootPath', 'restart', 'shutdown']),
            state=dict(type='bool'),
            bootpath=dict(type='str'),
            email=dict(type='dict'),
            user=dict(type='str', required=True),
            password=dict(type='str', required=True, no_log=True),
            ca_cert=dict(type='path'),
            timeout=dict(type='int', default=30),
        ),
        required_if=[('command', 'serviceid', ['state']), ('command', 'email', ['email']),
                     ('command', 'setBootPath', ['bootpath'])],
        supports_check_mode=True,
    )
    try:
        run(module)
    except Failure as failure:
        module.fail_json(msg=str(failure))


if __name__ == '__main__':
    main()
