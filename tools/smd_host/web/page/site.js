// The site page: a tile per unit from /api/units, refreshed every few seconds.
"use strict";

const REFRESH_MS = 3000;
const MAX_ALARM_NAMES = 3;

function text(tag, content, className) {
  const element = document.createElement(tag);
  element.textContent = content;
  if (className) element.className = className;
  return element;
}

function age(seconds) {
  if (seconds === null || seconds === undefined) return "no data yet";
  return seconds < 120 ? `data ${seconds.toFixed(1)} s old` : `data ${Math.round(seconds / 60)} min old`;
}

// A unit's tile: its name, its line, its state, the age of its data and its active alarms (the
// first few named).
function tile(unit) {
  const link = document.createElement("a");
  link.className = `tile state-${unit.state}`;
  link.href = `/units/${unit.data_id}`;
  link.dataset.id = unit.data_id;
  link.append(text("h2", unit.name));
  link.append(text("p", unit.line, "quiet"));
  link.append(text("p", unit.state, `state state-${unit.state}`));
  link.append(text("p", age(unit.data_age_seconds)));
  const alarms = unit.active_alarms;
  link.append(text("p", `${alarms} active alarm${alarms === 1 ? "" : "s"}`, alarms > 0 ? "alarmed" : ""));
  const names = unit.active_alarm_names.slice(0, MAX_ALARM_NAMES);
  if (alarms > names.length) names.push(`and ${alarms - names.length} more`);
  if (names.length) link.append(text("p", names.join(", "), "alarm-names"));
  return link;
}

async function refresh() {
  try {
    const reply = await fetch("/api/units", { cache: "no-store" });
    if (!reply.ok) throw new Error(`HTTP ${reply.status}`);
    const units = await reply.json();
    const tiles = document.getElementById("tiles");
    tiles.replaceChildren(...units.map(tile));
    tiles.dataset.units = units.length;
    document.getElementById("refreshed").textContent = `Updated ${new Date().toLocaleTimeString()}.`;
  } catch (error) {
    document.getElementById("refreshed").textContent = `The runner does not answer (${error.message}).`;
  }
}

refresh();
setInterval(refresh, REFRESH_MS);
