#!/usr/bin/env python3
"""The Debian package as a user gets it: its control fields and files, a manual page that covers every option and
configuration key, the unit as systemd reads it, and the installed server run by the unit's command as the user
`quorvane`, streaming the demo and a terminal to a scripted client. Needs root: it installs the package (twice, so
that a reinstall is checked too); when the package was not installed before, it then removes and purges it again.
Usage: check_deb.py DEB SOURCE_DIR"""
import gzip, os, pwd, re, shutil, subprocess, sys, tempfile

deb, src = sys.argv[1], sys.argv[2]
sys.path.insert(0, os.path.join(src, 'tests', 'native'))
from qv_client import MENU, check, connect, done  # noqa: E402

run = lambda *cmd: subprocess.run(cmd, capture_output=True, text=True, timeout=900)
# As a user installs it; waits while another installation holds dpkg's lock; keeps an edited configuration.
apt = lambda *args: run('apt-get', '-y', '-q', '-o', 'DPkg::Lock::Timeout=600', '-o', 'Dpkg::Options::=--force-confold',
                        *args)
field = lambda name: run('dpkg-deb', '-f', deb, name).stdout.strip()
UNIT, ETC, STATE = '/usr/lib/systemd/system/quorvane-server.service', '/etc/quorvane/server.toml', '/var/lib/quorvane'

# Control fields and files.
version = re.search(r'project\(quorvane VERSION (\S+)', open(os.path.join(src, 'CMakeLists.txt')).read()).group(1)
check('package, version, architecture', [field('Package'), field('Version'), field('Architecture')] ==
      ['quorvane-server', version, 'amd64'], field('Version'))
depends = {d.split()[0] for d in field('Depends').split(', ')}
wanted = {'xvfb', 'xterm', 'matchbox-window-manager', 'chromium', 'pulseaudio', 'x11-xserver-utils', 'adduser',
          'libc6', 'libstdc++6', 'libpulse0', 'libtomlplusplus3', 'libx11-6', 'libxtst6', 'zlib1g'}
check('depends on what it starts and what it links', wanted <= depends, wanted - depends)
files = {line.split()[-1][2:] for line in run('dpkg-deb', '-c', deb).stdout.splitlines() if line[0] != 'd'}
expected = {'usr/bin/quorvane-server', ETC[1:], UNIT[1:], 'usr/share/man/man1/quorvane-server.1.gz',
            'usr/share/quorvane/quorvane-win98.zip'}
check('its files', files == expected, files ^ expected)
check('the configuration is a conffile', run('dpkg-deb', '-I', deb, 'conffiles').stdout.split() == [ETC])

# The packaged manual page: no roff warnings; every option of --help and every key and kind of the configuration.
tree = tempfile.mkdtemp(prefix='qv-deb-')
run('dpkg-deb', '-x', deb, tree)
os.chmod(tree, 0o755)  # the packaged configuration is read by the user quorvane below
page = os.path.join(tree, 'usr/share/man/man1/quorvane-server.1.gz')
lint = subprocess.run('zcat %s | groff -man -Tutf8 -ww -z' % page, shell=True, capture_output=True, text=True)
check('the manual page has no roff warnings', lint.returncode == 0 and not lint.stderr, lint.stderr)
man = gzip.open(page, 'rt').read().replace('\\-', '-')
usage = run(os.path.join(tree, 'usr/bin/quorvane-server'), '--help').stdout
config = open(os.path.join(src, 'server', 'config.cpp')).read()
options = set(re.findall(r'^  (--[a-z-]+)', usage, re.M))
keys = set(re.findall(r'"(\w+)"', ''.join(re.findall(r'_KEYS = \{([^}]*)\}', config))))
kinds = {'kind = \\(dq' + k for k in re.findall(r'\{"(\w+)", AppKind::', config)}
names = options | keys | kinds
missing = [n for n in names if not re.search(r'^\.B[IR]? \[*%s\b' % re.escape(n), man, re.M)]
check('the manual page covers every option, key and kind (%d)' % len(names), options and keys and kinds and not missing,
      missing)

# Installed: a reinstall over it works; the user and its folder; the unit.
fresh = run('dpkg-query', '-W', '-f=${Status}', 'quorvane-server').stdout != 'install ok installed'
for attempt in ('install', 'reinstall'):
    r = apt('install', '--reinstall', '--no-install-recommends', os.path.abspath(deb))
    check(attempt, r.returncode == 0, r.stderr)
user, state = pwd.getpwnam('quorvane'), os.stat(STATE)
check('a system user quorvane owns ' + STATE, user.pw_uid < 1000 and user.pw_dir == STATE and
      (state.st_uid, state.st_mode & 0o777) == (user.pw_uid, 0o750))
unit = open(UNIT).read()
check('the unit runs it as quorvane and does not pretend to reload', re.search('^User=quorvane$', unit, re.M) and
      not re.search('^ExecReload', unit, re.M))
if shutil.which('systemd-analyze'):
    r = run('systemd-analyze', 'verify', UNIT)
    check('systemd-analyze verify', r.returncode == 0 and not r.stderr, r.stderr)
    exposure = run('systemd-analyze', 'security', '--offline=yes', UNIT).stdout.strip().split('\n')[-1]
    print('note: systemd-analyze security:', exposure)
else:
    print('note: no systemd-analyze on this machine; the unit is not verified')

# The unit's command as its user, with the packaged configuration (the file in /etc may be the owner's own).
command = re.search(r'^ExecStart=(.*)$', unit, re.M).group(1).split()
check('the unit names the installed program and configuration',
      command[:3] == ['/usr/bin/quorvane-server', '--config', ETC])
command[2] = os.path.join(tree, ETC[1:])
env = dict(v.split('=', 1) for v in re.search(r'^Environment=(.*)$', unit, re.M).group(1).split())
env['PATH'] = '/usr/bin:/bin'
# Without new privileges or capabilities, as the unit's NoNewPrivileges and CapabilityBoundingSet say.
as_user = ['setpriv', '--reuid=quorvane', '--regid=quorvane', '--init-groups', '--no-new-privs', '--bounding-set=-all',
           '--'] + command
r = subprocess.run(as_user, env=env, capture_output=True, text=True, timeout=10, cwd=STATE)
check('as packaged it refuses the network until a key is set', r.returncode == 2 and 'key =' in r.stderr, r.stderr)
journal = tempfile.TemporaryFile('w+')  # standing in for the journal, as systemd names it in JOURNAL_STREAM
stream = '%d:%d' % (os.fstat(journal.fileno()).st_dev, os.fstat(journal.fileno()).st_ino)
server = subprocess.Popen(as_user + ['--listen', '127.0.0.1:0'], env=dict(env, JOURNAL_STREAM=stream), cwd=STATE,
                          stdout=subprocess.PIPE, stderr=journal)
try:
    c = connect(int(server.stdout.readline() or 0))
    check('the menu: the terminal and the demo', c.apps == [(1, 0, 'Terminal'), (2, 0, 'Demo')], c.apps)
    streaming, shown = c.launch(2), list(c.pixels)
    check('the demo streams, moving', streaming and c.pump(10, lambda: c.frames >= 10 and c.pixels != shown))
    c.send(MENU)
    check('a terminal streams, run by the user quorvane', c.pump(5, lambda: c.states[-1:] == [0]) and c.launch(1, 30))
finally:
    server.terminate()
    check('the server stops on SIGTERM', server.wait(10) == 0)
    journal.seek(0)
    lines = journal.read()
    check('its lines in the journal carry no time of their own', re.search('^listening on 127.0.0.1:', lines, re.M)
          and not re.search(r'^\d\d:\d\d:\d\d ', lines, re.M), lines[:200])

# Removal keeps /etc and /var/lib; purge deletes them. Left alone when the package was there before.
if fresh:
    apt('remove', 'quorvane-server')
    check('remove keeps the configuration and the state', not os.path.exists('/usr/bin/quorvane-server') and
          os.path.exists(ETC) and os.path.isdir(STATE))
    apt('purge', 'quorvane-server')
    check('purge deletes them', not os.path.exists(ETC) and not os.path.exists(STATE))
else:
    print('note: quorvane-server was installed before: it stays installed, removal is not checked')
shutil.rmtree(tree)
done()
