#include "operator/RemotePage.h"

#include "operator/Health.h"

namespace {

const char* const kHead = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Solvane</title>
<style>
body{margin:0;padding:8px;background:#111;color:#ddd;font:15px/1.35 system-ui,sans-serif}
h1{font-size:18px;margin:0 0 6px}h2{font-size:15px;margin:12px 0 4px;color:#9bd}
main{max-width:960px;margin:auto;display:grid;gap:10px;grid-template-columns:1fr}
@media(min-width:760px){main{grid-template-columns:3fr 2fr}}
#frame{width:100%;aspect-ratio:4/3;background:#000;display:block;border:1px solid #333}
table{border-collapse:collapse;width:100%}td{padding:2px 4px;border-bottom:1px solid #2a2a2a}
td:last-child{text-align:right;font-variant-numeric:tabular-nums}
.meter{position:relative;height:18px;background:#222;border:1px solid #444}
.meter .rms{position:absolute;left:0;top:0;bottom:9px;background:#3a7}
.meter .peak{position:absolute;left:0;top:9px;bottom:0;background:#7c5}
.meter .line{position:absolute;top:-3px;bottom:-3px;width:2px;background:#e44}
.scale{display:flex;justify-content:space-between;font-size:11px;color:#888}
pre{background:#000;padding:6px;font-size:11px;overflow:auto;max-height:320px;white-space:pre-wrap;margin:0}
.bad{color:#f77}.good{color:#7d7}#age{font-size:12px;color:#888}
input,button{font:inherit;padding:6px;margin:2px 0;background:#222;color:#ddd;border:1px solid #555}
button{cursor:pointer}.row{display:flex;gap:6px;align-items:center;flex-wrap:wrap}.row input[type=number]{width:6em}
</style></head><body>
<main>
<section>
<h1>Solvane <span id="age"></span></h1>
<img id="frame" alt="the current picture">
<h2>Input level</h2>
<div class="meter"><div class="rms" id="rms"></div><div class="peak" id="peak"></div><div class="line" id="threshold"></div></div>
<div class="scale"><span>-60 dBFS</span><span>-40</span><span>-20</span><span>0</span></div>
<div id="levels"></div>
</section>
<section>
<h2>Health</h2>
<table id="figures"></table>
<h2>Crystals</h2>
<table id="crystals"></table>
)HTML";

const char* const kControls = R"HTML(<h2>Controls</h2>
<div class="row"><input id="token" type="password" placeholder="token" autocomplete="current-password"></div>
<div class="row">Threshold <input id="thr" type="number" step="1" min="-90" max="0"> dBFS <button data-action="threshold">Set</button></div>
<div class="row">Gain <input id="gain" type="number" step="1" min="-40" max="40"> dB <button data-action="gain">Set</button></div>
<div class="row"><button data-action="overlay" data-value="true">Overlay on</button><button data-action="overlay" data-value="false">Overlay off</button>
<button data-action="close" class="bad">Close</button></div>
<div id="answer"></div>
)HTML";

const char* const kTail = R"HTML(</section>
<section style="grid-column:1/-1">
<h2>Log</h2>
<pre id="log"></pre>
</section>
</main>
<script>
"use strict";
const $ = id => document.getElementById(id);
const pct = db => Math.max(0, Math.min(100, (db + 60) / 60 * 100)) + "%";
const dbfs = units => 20 * Math.log10(Math.max(units, 1) / 32768);
const esc = s => String(s).replace(/[&<>"]/g, c => ({"&":"&amp;","<":"&lt;",">":"&gt;",'"':"&quot;"}[c]));
const phases = @PHASES@;
let lastOk = 0, prefilled = false;
function rows(table, pairs) {
  $(table).innerHTML = pairs.map(([k, v, cls]) =>
    "<tr><td>" + esc(k) + "</td><td" + (cls ? " class=" + cls : "") + ">" + esc(v) + "</td></tr>").join("");
}
function duration(s) {
  s = Math.floor(s); const d = Math.floor(s / 86400), h = Math.floor(s % 86400 / 3600), m = Math.floor(s % 3600 / 60);
  return (d ? d + "d " : "") + h + "h " + m + "m " + (s % 60) + "s";
}
async function status() {
  try {
    const r = await fetch("status.json", {cache: "no-store"});
    const s = await r.json();
    lastOk = Date.now();
    $("peak").style.width = pct(s.input_peak_dbfs);
    $("rms").style.width = pct(s.input_rms_dbfs);
    $("threshold").style.left = pct(dbfs(s.threshold));
    $("levels").textContent = "peak " + s.input_peak_dbfs.toFixed(1) + " dBFS, rms " + s.input_rms_dbfs.toFixed(1) +
      " dBFS, threshold " + s.threshold + " (" + dbfs(s.threshold).toFixed(1) + " dBFS), gain " + s.gain_db.toFixed(1) + " dB";
    const peerOk = s.peer.state === "connected", micOk = s.microphone.state === "recording" || s.microphone.state === "file";
    rows("figures", [
      ["uptime", duration(s.uptime_s)], ["steps", s.steps], ["steps per second", s.steps_per_second.toFixed(1)],
      ["step time p99", s.step_ms_p99.toFixed(1) + " ms"], ["sparks", s.sparks],
      ["pictures in flight", s.pictures_in_flight], ["pictures received", s.pictures_received],
      ["peer", s.peer.state + (s.peer.address ? " " + s.peer.address : "") +
        (s.peer.last_contact >= 0 ? ", " + s.peer.last_contact.toFixed(0) + " s ago" : ""), peerOk ? "good" : "bad"],
      ["microphone", s.microphone.state + (s.microphone.device ? " " + s.microphone.device : ""), micOk ? "good" : "bad"],
      ["last voice", s.last_voice.path ? s.last_voice.blocks + " blocks, " + s.last_voice.time : "none yet"],
      ["overlay", s.panel_visible ? "on" : "off"],
      ["warnings / errors", s.warnings + " / " + s.errors, s.errors ? "bad" : ""]]);
    rows("crystals", phases.map(p => [p, s.crystals[p]]));
    if ($("thr") && !prefilled) {
      $("thr").value = dbfs(s.threshold).toFixed(0); $("gain").value = s.gain_db.toFixed(0); prefilled = true;
    }
  } catch (e) { /* the next poll tries again */ }
}
function frame() {
  const next = new Image();
  next.onload = () => { $("frame").src = next.src; };
  next.src = "frame.png?t=" + Date.now();
}
async function log() {
  try {
    const r = await fetch("log", {cache: "no-store"});
    const lines = (await r.text()).split("\n").filter(l => l.length);
    const box = $("log"), atEnd = box.scrollTop + box.clientHeight >= box.scrollHeight - 4;
    box.textContent = lines.slice(-50).join("\n");
    if (atEnd) box.scrollTop = box.scrollHeight;
  } catch (e) { /* the next poll tries again */ }
}
function age() {
  const s = (Date.now() - lastOk) / 1000;
  $("age").textContent = lastOk === 0 ? "connecting" : s > 3 ? "no answer for " + s.toFixed(0) + " s" : "";
  $("age").className = s > 3 ? "bad" : "";
}
if ($("token")) {
  $("token").value = localStorage.getItem("solvane-token") || "";
  for (const b of document.querySelectorAll("button[data-action]")) b.onclick = async () => {
    const action = b.dataset.action;
    if (action === "close" && !confirm("Close the installation?")) return;
    const token = $("token").value;
    localStorage.setItem("solvane-token", token);
    let value = null;
    if (action === "threshold") value = Number($("thr").value);
    if (action === "gain") value = Number($("gain").value);
    if (action === "overlay") value = b.dataset.value === "true";
    try {
      const r = await fetch("control", {method: "POST", headers: {"Authorization": "Bearer " + token,
        "Content-Type": "application/json"}, body: JSON.stringify({action, value})});
      const a = await r.json();
      $("answer").textContent = a.message; $("answer").className = r.ok ? "good" : "bad";
    } catch (e) { $("answer").textContent = "no answer"; $("answer").className = "bad"; }
  };
}
status(); frame(); log();
setInterval(status, 1000); setInterval(frame, 1000); setInterval(log, 2000); setInterval(age, 1000);
</script>
</body></html>
)HTML";

}  // namespace

std::string RemotePage(bool controls)
{
    std::string page = kHead;
    if (controls) page += kControls;
    // The crystals are listed in life-cycle order, as on every other report
    // (the status document's object has its keys sorted).
    std::string phases = "[";
    for (const char* name : Health::kPhaseNames) phases += std::string(phases.size() > 1 ? "," : "") + "\"" + name + "\"";
    phases += "]";
    std::string tail = kTail;
    tail.replace(tail.find("@PHASES@"), 8, phases);
    page += tail;
    return page;
}
