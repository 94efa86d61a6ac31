// A unit's page: its lines, feeders and alarms from /api/units/<id>/view and its trend plots from
// /api/units/<id>/trend, refreshed every few seconds.
"use strict";

const REFRESH_MS = 3000;
const DATA_ID = document.body.dataset.id;
const COLOURS = { a: "#0d6efd", b: "#fd7e14", temperature: "#dc3545", humidity: "#20c997" };

// The plots: which series of the trend each shows.
const PLOTS = [
  { id: "trend-voltage", series: [["voltage_a", "line A", COLOURS.a], ["voltage_b", "line B", COLOURS.b]] },
  { id: "trend-current", series: [["current_a", "line A", COLOURS.a], ["current_b", "line B", COLOURS.b]] },
  { id: "trend-power", series: [["power_a", "line A", COLOURS.a], ["power_b", "line B", COLOURS.b]] },
  { id: "trend-ambient", series: [["temperature", "°C", COLOURS.temperature], ["humidity", "%RH", COLOURS.humidity]] },
];
const charts = {};

function number(value, decimals) {
  return typeof value === "number" ? value.toFixed(decimals) : "-";
}

function cell(content, className) {
  const td = document.createElement("td");
  td.textContent = content;
  if (className) td.className = className;
  return td;
}

function showLines(view) {
  const body = document.querySelector("#lines tbody");
  body.replaceChildren(...view.lines.map((line) => {
    const row = document.createElement("tr");
    row.id = `line-${line.line}`;
    const cells = [cell(line.line), cell(number(line.voltage, 2)), cell(number(line.current, 2)),
      cell(number(line.power, 3)), cell(number(line.energy, 3)), cell(number(line.load_ratio, 2))];
    cells[1].className = "voltage";
    row.append(...cells);
    return row;
  }));
  document.getElementById("ambient").textContent =
    `Ambient ${number(view.ambient.temperature, 1)} °C, ${number(view.ambient.humidity, 1)} %RH`;
}

function showFeeders(feeders) {
  document.getElementById("feeder-summary").textContent =
    `${feeders.not_normal} not normal, ${feeders.carrying_current} carrying current, ${feeders.idle} idle ` +
    "(idle feeders are not listed)";
  const body = document.querySelector("#feeders tbody");
  body.replaceChildren(...feeders.rows.map((feeder) => {
    const row = document.createElement("tr");
    if (!feeder.normal) row.className = "not-normal";
    row.append(cell(String(feeder.feeder)), cell(number(feeder.voltage, 2)), cell(number(feeder.current, 2)),
      cell(number(feeder.power, 2)), cell(number(feeder.load_ratio, 2)), cell(feeder.switch, "text"),
      cell(feeder.alarms.join(" "), "text"));
    return row;
  }));
}

function showView(view) {
  document.getElementById("name").textContent = view.name;
  document.title = `smd-host: ${view.name}`;
  const state = document.getElementById("state");
  state.textContent = view.state;
  state.className = `state state-${view.state}`;
  document.getElementById("age").textContent = view.data_age_seconds === null
    ? "no data yet" : `data ${view.data_age_seconds.toFixed(1)} s old`;
  document.getElementById("update-time").textContent = view.update_time ? `(unit time ${view.update_time})` : "";
  document.getElementById("error").textContent = view.state === "completed" ? "" : view.last_error;
  showLines(view);
  showFeeders(view.feeders);
  document.getElementById("alarm-count").textContent = view.alarms.length;
  document.getElementById("alarms").replaceChildren(
    ...(view.alarms.length ? view.alarms.map((name) => { const li = document.createElement("li"); li.textContent = name; return li; })
      : [Object.assign(document.createElement("li"), { textContent: "none", className: "quiet" })]));
}

// Minutes before the trend's own "now", so that the plots do not depend on the browser's clock.
function showTrend(trend) {
  const minutes = trend.time_ms.map((t) => (t - trend.now_ms) / 60000);
  for (const plot of PLOTS) {
    const datasets = plot.series.map(([key, label, colour]) => ({
      label, borderColor: colour, backgroundColor: colour, borderWidth: 2,
      pointRadius: minutes.length < 60 ? 2 : 0, spanGaps: false,
      data: minutes.map((x, i) => ({ x, y: trend.values[key][i] })),
    }));
    const figure = document.getElementById(plot.id);
    figure.dataset.points = minutes.length;
    if (typeof Chart === "undefined") continue;  // the chart library is missing: the figures stay empty
    // The last hour at most; a runner that started less than an hour ago shows the time it has.
    const from = Math.max(-60, Math.floor(minutes.length ? minutes[0] : -1));
    if (charts[plot.id]) {
      charts[plot.id].data.datasets = datasets;
      charts[plot.id].options.scales.x.min = from;
      charts[plot.id].update();
      continue;
    }
    charts[plot.id] = new Chart(figure.querySelector("canvas"), {
      type: "line",
      data: { datasets },
      options: {
        animation: false, maintainAspectRatio: false, parsing: false,
        scales: {
          x: { type: "linear", min: from, max: 0, title: { display: true, text: "minutes ago" } },
          y: { grace: "5%" },
        },
        plugins: { legend: { position: "bottom", labels: { boxWidth: 12 } } },
      },
    });
  }
}

async function fetchJson(path) {
  const reply = await fetch(path, { cache: "no-store" });
  if (!reply.ok) throw new Error(`HTTP ${reply.status}`);
  return reply.json();
}

async function refresh() {
  try {
    const [view, trend] = await Promise.all([fetchJson(`/api/units/${DATA_ID}/view`), fetchJson(`/api/units/${DATA_ID}/trend`)]);
    showView(view);
    showTrend(trend);
  } catch (error) {
    document.getElementById("error").textContent = `The runner does not answer (${error.message}).`;
  }
}

refresh();
setInterval(refresh, REFRESH_MS);
