#include "dev_page.h"

namespace {

constexpr char PageHead[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>NorvVPN development service</title>
<style>
body { font-family: sans-serif; margin: 24px; }
.note { background: #fff3cd; border: 1px solid #e0c36a; padding: 8px; font-size: 13px; }
label { font-size: 20px; }
#status { color: #444; }
</style>
</head>
<body>
<p class="note">Development service: a stand-in for the local VPN service. It keeps one
tunnel flag, opens no tunnel, and logs every request it gets.</p>
<h1>NorvVPN</h1>
)";

constexpr char SwitchMarkup[] = R"(<label><input type="checkbox" id="vpn_switch"> Tunnel</label>
)";

constexpr char NoSwitchMarkup[] = R"(<p>Started with --no-switch: this page has no switch.</p>
)";

constexpr char PageScript[] = R"(<p id="status">Asking the service...</p>
<script>
const box = document.getElementById('vpn_switch');
const statusText = document.getElementById('status');
let busy = false;

function show(open) {
  if (box) box.checked = open;
  statusText.textContent = open ? 'Connected' : 'Disconnected';
}

async function call(method, path) {
  const reply = await fetch(path, { method: method, cache: 'no-store',
                                    headers: { 'Accept': 'application/json' } });
  if (!reply.ok) throw new Error(path + ' answered ' + reply.status);
  return reply.json();
}

async function refresh() {
  if (busy) return;
  try {
    const state = await call('GET', 'api/getTunnelStat');
    if (!busy) show(state.status !== 0);
  } catch (e) {
    statusText.textContent = 'No answer: ' + e.message;
  }
}

if (box) {
  box.addEventListener('change', async () => {
    const wanted = box.checked;
    busy = true;
    statusText.textContent = wanted ? 'Connecting...' : 'Disconnecting...';
    try {
      await call('PUT', wanted ? 'api/connectLocation' : 'api/disconnectLocation');
      show(wanted);
    } catch (e) {
      box.checked = !wanted;
      statusText.textContent = 'Failed: ' + e.message;
    }
    busy = false;
  });
}

refresh();
setInterval(refresh, 2000);
</script>
</body>
</html>
)";

}  // namespace

std::string DevPage(bool withSwitch) {
  return std::string(PageHead) + (withSwitch ? SwitchMarkup : NoSwitchMarkup) + PageScript;
}
