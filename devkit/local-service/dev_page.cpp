#include "dev_page.h"

namespace {

// Sized for the client's 400 x 640 window (about 384 x 601 CSS px inside).
// The client freezes Object before any page script runs: nothing here may
// add properties to it.
constexpr char PageHead[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>NorvVPN</title>
<link rel="icon" href="data:,">
<style>
* { box-sizing: border-box; }
html, body { margin: 0; height: 100%; }
body {
  display: flex; flex-direction: column;
  font-family: "Segoe UI", system-ui, "DejaVu Sans", sans-serif;
  background: #101c2e; color: #e9eef5; user-select: none;
}
header { display: flex; align-items: center; gap: 10px; padding: 14px 20px; border-bottom: 1px solid #1f2e45; }
.logo {
  width: 28px; height: 28px; border-radius: 8px; display: grid; place-items: center;
  background: linear-gradient(135deg, #2f80ed, #22b07d); font-weight: 700; font-size: 16px; color: #fff;
}
h1 { margin: 0; font-size: 19px; font-weight: 600; letter-spacing: 0.3px; }
main { flex: 1; display: flex; flex-direction: column; align-items: center; padding: 0 20px; min-height: 0; }

.status { margin-top: 26px; text-align: center; }
.status .line { display: flex; align-items: center; justify-content: center; gap: 10px; }
.dot { width: 12px; height: 12px; border-radius: 50%; background: #7b8796; }
#state { font-size: 26px; font-weight: 600; }
#detail { margin-top: 6px; font-size: 14px; color: #9fb0c4; min-height: 18px; }
body[data-state=on] .dot { background: #2ecc71; box-shadow: 0 0 10px #2ecc71; }
body[data-state=on] #state { color: #5fe09a; }
body[data-state=busy] .dot { background: #f5b942; }
body[data-state=down] .dot { background: #ef5350; }
body[data-state=down] #state { color: #ff8a80; font-size: 21px; }
body[data-state=down] .track { opacity: 0.55; }

.switch { position: relative; display: block; width: 156px; height: 78px; margin-top: 30px; }
#vpn_switch {
  position: absolute; inset: 0; width: 100%; height: 100%; margin: 0;
  opacity: 0; cursor: pointer; z-index: 1;
}
.track {
  position: absolute; inset: 0; border-radius: 39px; background: #34445c;
  transition: background 0.2s; box-shadow: inset 0 2px 6px rgba(0, 0, 0, 0.35);
}
.knob {
  position: absolute; top: 7px; left: 7px; width: 64px; height: 64px; border-radius: 50%;
  background: #f4f7fb; box-shadow: 0 2px 6px rgba(0, 0, 0, 0.4); transition: left 0.2s;
}
#vpn_switch:checked + .track { background: #22b07d; }
#vpn_switch:checked + .track .knob { left: 85px; }
#vpn_switch:focus-visible + .track { outline: 3px solid #7fb4ff; outline-offset: 3px; }
body[data-state=busy] #vpn_switch + .track { background: #b88a2e; }
#hint { margin-top: 12px; font-size: 13px; color: #9fb0c4; }
.noswitch { margin-top: 30px; padding: 12px; border: 1px dashed #52627a; border-radius: 8px;
            font-size: 13px; color: #9fb0c4; text-align: center; }

.locations { width: 100%; margin: auto 0 14px; border: 0; padding: 0; }
.locations legend { padding: 0; margin-bottom: 8px; font-size: 12px; color: #9fb0c4;
                    text-transform: uppercase; letter-spacing: 1px; }
.place {
  display: flex; align-items: center; gap: 12px; height: 40px; padding: 0 12px; margin-bottom: 6px;
  border-radius: 8px; background: #17263c; border: 1px solid #223450; cursor: pointer; font-size: 14px;
}
.place input { margin: 0; accent-color: #22b07d; }
.place .code { width: 30px; height: 20px; border-radius: 4px; background: #2a3c57; font-size: 11px;
               font-weight: 700; display: grid; place-items: center; color: #cfd9e6; }
.place:has(input:checked) { border-color: #22b07d; background: #1a3140; }
footer { padding: 8px 20px 10px; font-size: 11px; color: #6d7d92; text-align: center; border-top: 1px solid #1f2e45; }
</style>
</head>
<body data-state="busy">
<header><div class="logo">N</div><h1>NorvVPN</h1></header>
<main>
<div class="status" role="status">
  <div class="line"><span class="dot"></span><span id="state">Asking the service...</span></div>
  <div id="detail"></div>
</div>
)PAGE";

constexpr char SwitchMarkup[] = R"PAGE(<label class="switch" title="Connect or disconnect">
  <input type="checkbox" id="vpn_switch" role="switch" aria-label="VPN tunnel">
  <span class="track"><span class="knob"></span></span>
</label>
<div id="hint"></div>
)PAGE";

constexpr char NoSwitchMarkup[] = R"PAGE(<div class="noswitch">Started with --no-switch: this page has no switch.</div>
<div id="hint"></div>
)PAGE";

constexpr char PageTail[] = R"PAGE(<fieldset class="locations">
  <legend>Location</legend>
  <label class="place"><input type="radio" name="location" value="auto" data-name="Fastest location" checked><span class="code">&#9733;</span>Fastest location</label>
  <label class="place"><input type="radio" name="location" value="de-fra" data-name="Frankfurt, Germany"><span class="code">DE</span>Frankfurt, Germany</label>
  <label class="place"><input type="radio" name="location" value="nl-ams" data-name="Amsterdam, Netherlands"><span class="code">NL</span>Amsterdam, Netherlands</label>
  <label class="place"><input type="radio" name="location" value="jp-tyo" data-name="Tokyo, Japan"><span class="code">JP</span>Tokyo, Japan</label>
</fieldset>
</main>
<footer>Development service: no tunnel is ever opened.</footer>
<script>
'use strict';
const box = document.getElementById('vpn_switch');
const stateText = document.getElementById('state');
const detailText = document.getElementById('detail');
const hintText = document.getElementById('hint');
const places = document.getElementsByName('location');
const RequestLimitMs = 4000;
// Bumped by every switch or location change: an answer to a request sent
// before the latest change says nothing about the state now.
let change = 0;
let sending = 0;
let refreshing = false;

function chosen() {
  for (const place of places) if (place.checked) return place;
  return places[0];
}

// Only a change touches the page: the same text written again would still
// have it laid out and painted anew every poll.
function put(element, text) {
  if (element.textContent !== text) element.textContent = text;
}

function show(state, text, detail) {
  if (document.body.dataset.state !== state) document.body.dataset.state = state;
  put(stateText, text);
  put(detailText, detail);
  if (box) put(hintText, box.checked ? 'Click to disconnect' : 'Click to connect');
}

function showTunnel(open) {
  if (box && box.checked !== open) box.checked = open;
  if (open) show('on', 'Connected', chosen().dataset.name);
  else show('off', 'Disconnected', 'Your traffic is not protected');
}

function showNoAnswer(error) {
  show('down', 'Service not answering', error.message);
}

async function call(method, path, headers) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), RequestLimitMs);
  let reply;
  try {
    reply = await fetch(path, { method: method, headers: headers || {}, cache: 'no-store', signal: abort.signal });
  } catch (e) {
    throw new Error(method + ' ' + path + ': no answer');
  } finally {
    clearTimeout(timer);
  }
  if (!reply.ok) throw new Error(method + ' ' + path + ': answered ' + reply.status);
  try {
    return await reply.json();
  } catch (e) {
    throw new Error(method + ' ' + path + ': not JSON');
  }
}

async function refresh() {
  if (refreshing || sending) return;
  refreshing = true;
  const seen = change;
  try {
    const reply = await call('GET', '/api/getTunnelStat');
    if (!reply || reply.status === undefined) throw new Error('GET /api/getTunnelStat: no status');
    if (seen === change && !sending) showTunnel(reply.status !== 0);
  } catch (e) {
    if (seen === change && !sending) showNoAnswer(e);
  } finally {
    refreshing = false;
  }
}

async function send(connect) {
  const mine = ++change;
  ++sending;
  if (connect) show('busy', 'Connecting...', chosen().dataset.name);
  else show('busy', 'Disconnecting...', '');
  try {
    if (connect) await call('PUT', '/api/connectLocation', { 'X-Location': chosen().value });
    else await call('PUT', '/api/disconnectLocation');
    if (mine === change) showTunnel(connect);
  } catch (e) {
    if (mine === change) {
      box.checked = !connect;
      showNoAnswer(e);
    }
  } finally {
    --sending;
  }
}

if (box) box.addEventListener('change', () => send(box.checked));
// Connected elsewhere means the tunnel moves there at once.
for (const place of places) {
  place.addEventListener('change', () => {
    if (box && box.checked) send(true);
  });
}

refresh();
setInterval(refresh, 2000);
</script>
</body>
</html>
)PAGE";

}  // namespace

std::string DevPage(bool withSwitch) {
  return std::string(PageHead) + (withSwitch ? SwitchMarkup : NoSwitchMarkup) + PageTail;
}
