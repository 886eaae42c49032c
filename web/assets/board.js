// The station's board: the state arrives whole as JSON (the snapshot, then each change by
// Server-Sent Events) and is drawn with textContent only, so a module's name is never markup.
"use strict";

function line(parent, cls, text) {
  const el = document.createElement("div");
  el.className = cls;
  el.textContent = text;
  parent.appendChild(el);
  return el;
}

function drawTile(slot) {
  const tile = document.createElement("section");
  tile.className = "tile " + slot.state;
  tile.dataset.slot = String(slot.slot);
  tile.dataset.state = slot.state;
  line(tile, "label", slot.label || slot.port || "Slot " + slot.slot);
  line(tile, "word", slot.word);
  line(tile, "line step", slot.step);
  let module = slot.name;
  if (slot.number) module += (module ? "  " : "") + "#" + slot.number;
  line(tile, "line name", module);
  line(tile, "line address", slot.address);
  line(tile, "line failure", slot.failure ? "Last failure: " + slot.failure : "");
  return tile;
}

function setLink(cls, text) {
  const link = document.getElementById("link");
  link.className = "link " + cls;
  link.textContent = text;
  document.getElementById("tiles").classList.toggle("stale", cls !== "live");
}

function draw(state) {
  document.getElementById("ok").textContent = String(state.ok);
  document.getElementById("failed").textContent = String(state.failed);
  document.getElementById("rate").textContent = String(state.perHour);
  const tiles = document.getElementById("tiles");
  tiles.replaceChildren(...state.slots.map(drawTile));
  if (state.running) {
    setLink("live", "Station running");
  } else {
    setLink("stopped", "Station stopped: " + state.end);
  }
}

// EventSource reconnects by itself after a lost stream; a stream refused outright (the
// server gone while the browser connected) closes it, so a new one is made after a pause.
function follow() {
  const source = new EventSource("/board/events");
  source.addEventListener("board", (event) => draw(JSON.parse(event.data)));
  source.onerror = () => {
    setLink("stopped", "Station not running: waiting for it to start");
    if (source.readyState === EventSource.CLOSED) setTimeout(follow, 2000);
  };
}

follow();
