#!/usr/bin/env python3
"""One shaped link's figures (scripts/perf/link_rate.sh runs this inside its own network namespace):
quorvane-server with a web entry showing full motion (a canvas repainted whole 30 times a second) and a
terminal that scrolls; stream_probe asks for 640 x 480 at 30 fps, decodes and acknowledges every frame at
once, and pings every 250 ms. Prints one row per content and quality: frames per second, kB/s, kB per
frame, Ping round trip, and the mean PSNR the encoder reached (from the server's log).
Usage: link_rate.py BUILD_DIR LINK SECONDS WARMUP QUALITY...   (QUALITY: default, or 1..100)"""
import functools, http.server, json, os, re, subprocess, sys, tempfile, threading

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', 'tests', 'native'))
from qv_client import Server  # noqa: E402

build, link, seconds, warmup, qualities = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
PAGE = '''<!doctype html><title>Full motion</title><body style="margin:0;overflow:hidden">
<canvas id="c" width="640" height="480"></canvas><script>
// A plasma with film grain: every pixel changes in every picture, as in a video.
const g = document.getElementById('c').getContext('2d'), img = g.createImageData(640, 480);
const px = new Uint32Array(img.data.buffer), wave = new Float32Array(2048), grain = new Uint8Array(1 << 20);
for (let i = 0; i < 2048; i++) wave[i] = 60 * Math.sin(i * Math.PI / 256);
for (let i = 0; i < grain.length; i++) grain[i] = Math.random() * 20;
let t = 0, last = 0;
function paint(now) {
  requestAnimationFrame(paint);
  if (now - last < 30) return;
  last = now; t += 4;
  const noise = (t * 7919) & 0x3ffff;
  for (let y = 0, i = 0; y < 480; y++) {
    const wy = wave[(3 * y + t) & 2047];
    for (let x = 0; x < 640; x++, i++) {
      const wx = wave[(2 * x + 2 * t) & 2047], wd = wave[(x + y + 3 * t) & 2047], n = grain[i + noise];
      px[i] = 0xff000000 | (128 + wx + wd + n) << 16 | (128 + wy + wd + n) << 8 | (128 + wx + wy + n);
    }
  }
  g.putImageData(img, 0, 0);
}
requestAnimationFrame(paint);
</script>'''
site = tempfile.mkdtemp(prefix='qv-link-')
with open(os.path.join(site, 'motion.html'), 'w') as f:
    f.write(PAGE)
quiet = type('Quiet', (http.server.SimpleHTTPRequestHandler,), {'log_message': lambda *a: None})
httpd = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(quiet, directory=site))
threading.Thread(target=httpd.serve_forever, daemon=True).start()
scroll = 'while :; do while read -r l; do echo "$l"; sleep 0.02; done < /usr/share/common-licenses/GPL-3; done'
toml = ('[[app]]\nname = "Film"\nkind = "web"\nhome = "http://127.0.0.1:%d/motion.html"\n'
        '[[app]]\nname = "Terminal"\nkind = "program"\ncommand = ["xterm", "-e", "sh", "-c", %s]\n'
        % (httpd.server_address[1], json.dumps(scroll)))
failed = False
for quality in qualities:
    for app, content in ((1, 'full motion'), (2, 'terminal')):
        server = Server(os.path.join(build, 'server', 'quorvane-server'), toml,
                        [] if quality == 'default' else ['--quality', quality])
        try:
            out = subprocess.run([os.path.join(build, 'server', 'stream_probe'), str(server.port), str(app), 'link',
                                  seconds, warmup], capture_output=True, text=True, timeout=int(seconds) + 90).stdout
        finally:
            server.stop()
        rate = re.search(r'fps ([\d.]+)\s+kB/s (\d+)\s+kB/frame ([\d.]+)', out)
        ping = re.search(r'median ([\d.]+) ms, p95 ([\d.]+) ms, min [\d.]+, max ([\d.]+)', out)
        log = server.log_text()
        psnr = re.findall(r'PSNR (\S+ dB|exact)', log)
        reached = re.findall(r'quality (\d+): a frame gets through in ([\d.]+) ms', log)
        if os.environ.get('LINK_RATE_LOG'):
            print(log)
        if not rate or not ping or float(rate.group(1)) == 0:
            failed = True
            print('%s %s %s: no figures: %s' % (link, quality, content, out.strip() or server.log_text()[-600:]))
            continue
        print('| %s | %s | %s | %s | %s | %s | %s / %s / %s | %s |' % (
            link, quality + (' (%s at the end)' % reached[-1][0] if reached else ''), content, rate.group(1),
            rate.group(2), rate.group(3), *ping.groups(), psnr[-1] if psnr else '-'), flush=True)
httpd.shutdown()
sys.exit(1 if failed else 0)
