// The bsbchart viewer: the charts `bsbchart serve` names, as a map whose
// tiles, positions and palettes all come from the server, which asks the
// library. Map units are chart pixels at 1:1 (zoom 0); a skewed chart is
// laid out upright by the server and its units are its pixels' size.
'use strict';

(function () {
  const api = 'api/charts';
  const $ = (id) => document.getElementById(id);

  // What the page shows now; kept on window for the browser tests.
  const view = {
    charts: [],
    revision: '',
    chart: null,
    palette: null,
    map: null,
    tiles: null,
    marker: null,
    tilesLoaded: false,
    tileErrors: 0,
  };
  window.bsbviewer = view;

  function showProblem(text) {
    const p = $('problem');
    p.textContent = text || '';
    p.hidden = !text;
  }

  // ---- numbers as a navigator reads them

  function degreesMinutes(value, positive, negative) {
    const hemisphere = value < 0 ? negative : positive;
    const a = Math.abs(value);
    let degrees = Math.floor(a);
    let minutes = Math.round((a - degrees) * 60000) / 1000;
    if (minutes >= 60) {
      degrees += 1;
      minutes -= 60;
    }
    return degrees + '°' + minutes.toFixed(3).padStart(6, '0') + '′' + hemisphere;
  }

  function latitudeText(y) { return degreesMinutes(y, 'N', 'S'); }
  function longitudeText(x) { return degreesMinutes(x, 'E', 'W'); }

  function grouped(text) {
    return /^\d+$/.test(text) ? text.replace(/\B(?=(\d{3})+$)/g, '\u2009') : text;
  }

  // "50°21.5′N 4°09.2′W", "50 21.5 N, 4 9.2 W", "4°09.2'W 50°21.5'N",
  // "50.358, -4.153" (latitude first) -> {lat, lon}, or null.
  function parsePosition(text) {
    const t = text.toUpperCase()
      .replace(/[°º′'’″"]/g, ' ')
      .replace(/,/g, ' ')
      .replace(/([NSEW])/g, ' $1 ')
      .trim();
    if (!t) return null;
    const groups = [];
    let numbers = [];
    for (const token of t.split(/\s+/)) {
      if (/^[NSEW]$/.test(token)) {
        if (!numbers.length) return null;
        groups.push({ numbers, hemisphere: token });
        numbers = [];
      } else if (/^[+-]?(\d+(\.\d*)?|\.\d+)$/.test(token)) {
        numbers.push(token);
      } else {
        return null;
      }
    }
    if (numbers.length) {
      if (groups.length || numbers.length % 2) return null;
      const half = numbers.length / 2;
      groups.push({ numbers: numbers.slice(0, half) }, { numbers: numbers.slice(half) });
    }
    if (groups.length !== 2) return null;
    const values = groups.map((g) => {
      if (g.numbers.length > 3) return NaN;
      const negative = g.numbers[0].startsWith('-');
      const parts = g.numbers.map((n) => Math.abs(parseFloat(n)));
      for (let k = 1; k < parts.length; ++k) {
        if (g.numbers[k].startsWith('-') || g.numbers[k].startsWith('+') || parts[k] >= 60) return NaN;
        if (!Number.isInteger(parts[k - 1])) return NaN;
      }
      let v = parts[0] + (parts[1] || 0) / 60 + (parts[2] || 0) / 3600;
      if (g.hemisphere && negative) return NaN;
      if (negative || g.hemisphere === 'S' || g.hemisphere === 'W') v = -v;
      return v;
    });
    const isLon = (h) => h === 'E' || h === 'W';
    const isLat = (h) => h === 'N' || h === 'S';
    const [h0, h1] = [groups[0].hemisphere, groups[1].hemisphere];
    let lat, lon;
    if (isLon(h0) && (!h1 || isLat(h1))) {
      lon = values[0];
      lat = values[1];
    } else if ((!h0 || isLat(h0)) && (!h1 || isLon(h1))) {
      lat = values[0];
      lon = values[1];
    } else {
      return null;
    }
    if (!Number.isFinite(lat) || !Number.isFinite(lon) || Math.abs(lat) > 90 || Math.abs(lon) > 180) return null;
    return { lat, lon };
  }
  view.parsePosition = parsePosition;

  // ---- the page's state in its address, so that a reload shows the same

  function readHash() {
    const p = new URLSearchParams(location.hash.slice(1));
    const number = (name) => {
      const v = p.get(name);
      return v !== null && v !== '' && Number.isFinite(Number(v)) ? Number(v) : null;
    };
    return { chart: p.get('chart'), palette: p.get('palette'), z: number('z'), x: number('x'), y: number('y') };
  }

  function writeHash() {
    if (!view.chart) return;
    const c = view.map.getCenter();
    const p = new URLSearchParams({
      chart: view.chart.id,
      palette: view.palette,
      z: String(view.map.getZoom()),
      x: c.lng.toFixed(2),
      y: c.lat.toFixed(2),
    });
    history.replaceState(null, '', '#' + p.toString());
  }

  // ---- the map

  // Map point (x right, y down, in map units) <-> Leaflet's LatLng(y, x).
  const crs = L.extend({}, L.CRS.Simple, { transformation: new L.Transformation(1, 0, 1, 0) });

  const ScaleBar = L.Control.extend({
    options: { position: 'bottomleft' },
    onAdd(map) {
      this._box = L.DomUtil.create('div', 'scale-bar');
      this._box.id = 'scale-bar';
      map.on('zoomend moveend', this.update, this);
      return this._box;
    },
    onRemove(map) { map.off('zoomend moveend', this.update, this); },
    update() {
      const chart = view.chart;
      if (!chart || !chart.metresPerUnit) {
        this._box.hidden = true;
        return;
      }
      this._box.hidden = false;
      const metresPerPixel = chart.metresPerUnit / Math.pow(2, view.map.getZoom());
      const bar = (metres, text) =>
        `<div class="bar" style="width:${Math.round(metres / metresPerPixel)}px"></div><div>${text}</div>`;
      const most = 120 * metresPerPixel;
      const metres = nice(most);
      const miles = nice(most / 1852);
      const milesText = (miles >= 0.1 ? String(Number(miles.toPrecision(1))) : miles.toPrecision(1)) + ' NM';
      this._box.innerHTML =
        bar(metres, metres >= 1000 ? metres / 1000 + ' km' : metres + ' m') + bar(miles * 1852, milesText);
    },
  });

  // The largest 1, 2 or 5 times a power of ten not above `value`.
  function nice(value) {
    const power = Math.pow(10, Math.floor(Math.log10(value)));
    const first = value / power;
    return (first >= 5 ? 5 : first >= 2 ? 2 : 1) * power;
  }

  function createMap() {
    const map = L.map('map', {
      crs,
      zoomSnap: 1,
      zoomDelta: 1,
      fadeAnimation: false,
      attributionControl: false,
      keyboard: true,
      keyboardPanDelta: 80,
      maxBoundsViscosity: 1.0,
    });
    L.Icon.Default.imagePath = 'leaflet/images/';
    view.map = map;
    view.scaleBar = new ScaleBar().addTo(map);
    map.on('moveend zoomend', () => {
      writeHash();
      $('zoom-level').textContent = zoomText(map.getZoom());
    });
    map.on('resize', () => {
      if (view.chart) fitLimits(view.chart);
    });
    map.on('mousemove', (e) => queryPosition(e.latlng));
    return map;
  }

  function zoomText(z) {
    if (z === 0) return '1:1';
    return z > 0 ? Math.pow(2, z) + '× enlarged' : '1/' + Math.pow(2, -z) + ' size';
  }

  function bounds(chart) {
    return L.latLngBounds([0, 0], [chart.frame.height, chart.frame.width]);
  }

  // From the whole sheet in the window down to the server's closest zoom.
  function fitLimits(chart) {
    const map = view.map;
    map.setMinZoom(chart.zoom.min);
    map.setMaxZoom(chart.zoom.max);
    const fit = Math.min(0, Math.max(chart.zoom.min, map.getBoundsZoom(bounds(chart), false)));
    map.setMinZoom(fit);
    return fit;
  }

  function tileUrl(chart) {
    return `${api}/${encodeURIComponent(chart.id)}/tiles/{palette}/{z}/{x}/{y}.png?v=${encodeURIComponent(view.revision)}`;
  }

  function showChart(chart, state) {
    const map = view.map;
    if (view.tiles) map.removeLayer(view.tiles);
    if (view.marker) map.removeLayer(view.marker);
    view.marker = null;
    view.chart = chart;
    view.tileErrors = 0;
    $('goto-message').textContent = '';
    $('cursor-position').textContent = 'Move the mouse over the chart';
    $('cursor-pixel').textContent = '';
    const keys = chart.palettes.map((p) => p.key);
    view.palette = keys.includes(state.palette) ? state.palette : keys[0];

    const b = bounds(chart);
    map.setMaxBounds(b);
    const fit = fitLimits(chart);
    if (state.z !== null && state.x !== null && state.y !== null) {
      map.setView([state.y, state.x], Math.min(chart.zoom.max, Math.max(fit, state.z)), { animate: false });
    } else {
      map.setView(b.getCenter(), fit, { animate: false });
    }

    view.tilesLoaded = false;
    view.tiles = L.tileLayer(tileUrl(chart), {
      palette: view.palette,
      tileSize: 256,
      bounds: b,
      noWrap: true,
      minZoom: chart.zoom.min,
      maxZoom: chart.zoom.max,
      keepBuffer: 3,
    });
    view.tiles.on('loading', () => {
      view.tilesLoaded = false;
      document.body.dataset.tiles = 'loading';
    });
    view.tiles.on('load', () => {
      view.tilesLoaded = true;
      document.body.dataset.tiles = 'loaded';
    });
    view.tiles.on('tileerror', () => {
      view.tileErrors += 1;
      showProblem('Some tiles of this chart could not be made.');
    });
    view.tiles.addTo(map);
    showDescription(chart);
    showPalettes(chart);
    $('chart-select').value = chart.id;
    view.scaleBar.update();
    $('zoom-level').textContent = zoomText(map.getZoom());
    writeHash();
  }

  function setPalette(key) {
    if (!view.chart || key === view.palette) return;
    view.palette = key;
    view.tiles.options.palette = key;
    view.tilesLoaded = false;
    view.tiles.redraw();
    for (const label of $('palettes').querySelectorAll('label'))
      label.classList.toggle('chosen', label.dataset.palette === key);
    writeHash();
  }

  // ---- the side panel

  function showDescription(chart) {
    const f = chart.fields;
    $('chart-name').textContent = f.name || chart.file;
    const edition = [f.edition && 'edition ' + f.edition, f.editionDate].filter(Boolean).join(', ');
    const projection = f.projection ? f.projection + (f.projectionParameter ? ` (${f.projectionParameter})` : '') : null;
    const skew = chart.skewed ? `${chart.skewAngle}° (shown upright)` : 'none';
    const rows = [
      ['Number', f.number],
      ['Scale', f.scale ? '1 : ' + grouped(f.scale) : null],
      ['Datum', f.datum],
      ['Projection', projection],
      ['Size', `${chart.width} × ${chart.height} pixels`],
      ['Skew', skew],
      ['Depths', f.depthUnits],
      ['Sounding datum', f.soundingDatum],
      ['Edition', edition || null],
      ['File', chart.file],
    ];
    const list = $('fields');
    list.replaceChildren();
    for (const [name, value] of rows) {
      if (value === null || value === undefined || value === '') continue;
      const dt = document.createElement('dt');
      dt.textContent = name;
      const dd = document.createElement('dd');
      dd.textContent = value;
      dd.dataset.field = name.toLowerCase().replace(/ /g, '-');
      list.append(dt, dd);
    }
  }

  function showPalettes(chart) {
    const box = $('palettes');
    box.replaceChildren();
    $('palette-section').hidden = chart.palettes.length < 2;
    for (const p of chart.palettes) {
      const label = document.createElement('label');
      label.dataset.palette = p.key;
      label.classList.toggle('chosen', p.key === view.palette);
      const input = document.createElement('input');
      input.type = 'radio';
      input.name = 'palette';
      input.value = p.key;
      input.checked = p.key === view.palette;
      input.addEventListener('change', () => setPalette(p.key));
      label.append(input, p.label);
      box.append(label);
    }
  }

  // ---- the cursor's position: the library's pixel -> world, one request at
  // a time, always for the latest point

  let wanted = null;
  let asking = false;

  async function queryPosition(latlng) {
    wanted = { x: latlng.lng, y: latlng.lat, chart: view.chart };
    if (asking) return;
    asking = true;
    while (wanted) {
      const point = wanted;
      wanted = null;
      if (!point.chart || !point.chart.georeferenced) continue;
      try {
        const r = await fetch(`${api}/${encodeURIComponent(point.chart.id)}/position?mapX=${point.x}&mapY=${point.y}`);
        if (point.chart !== view.chart) continue;
        if (!r.ok) {
          $('cursor-position').textContent = (await r.text()).trim();
          continue;
        }
        const p = await r.json();
        $('cursor-position').textContent =
          latitudeText(p.y) + '  ' + longitudeText(p.x) + (p.inside ? '' : '  (off the chart)');
        $('cursor-pixel').textContent = `pixel ${Math.floor(p.column)}, ${Math.floor(p.row)}`;
      } catch (e) {
        $('cursor-position').textContent = 'The server does not answer.';
      }
    }
    asking = false;
  }

  // ---- go to: the library's world -> pixel, and a marker there

  async function goTo(event) {
    event.preventDefault();
    const message = $('goto-message');
    message.classList.remove('bad');
    const chart = view.chart;
    const position = parsePosition($('goto-input').value);
    if (!position) {
      message.classList.add('bad');
      message.textContent = 'Give a latitude and longitude, e.g. 50°21.5′N 4°09.2′W.';
      return;
    }
    try {
      const r = await fetch(`${api}/${encodeURIComponent(chart.id)}/locate?lat=${position.lat}&lon=${position.lon}`);
      if (!r.ok) throw new Error((await r.text()).trim());
      const p = await r.json();
      if (chart !== view.chart) return;
      const where = latitudeText(position.lat) + ' ' + longitudeText(position.lon);
      if (!p.inside) {
        message.classList.add('bad');
        message.textContent = `${where} is not on this chart.`;
        return;
      }
      if (view.marker) view.map.removeLayer(view.marker);
      view.marker = L.marker([p.mapY, p.mapX], { keyboard: false, title: where }).addTo(view.map);
      view.map.setView([p.mapY, p.mapX], view.map.getZoom(), { animate: false });
      message.textContent = `${where}: chart pixel ${Math.floor(p.column)}, ${Math.floor(p.row)}`;
    } catch (e) {
      message.classList.add('bad');
      message.textContent = e.message || 'The server does not answer.';
    }
  }

  // ---- start

  async function start() {
    createMap();
    $('goto').addEventListener('submit', goTo);
    $('chart-select').addEventListener('change', (e) => {
      const chart = view.charts.find((c) => c.id === e.target.value);
      if (chart) showChart(chart, { palette: view.palette, z: null, x: null, y: null });
      view.map.getContainer().focus();
    });
    let list;
    try {
      const r = await fetch(api);
      if (!r.ok) throw new Error(await r.text());
      list = await r.json();
    } catch (e) {
      showProblem('Cannot reach the chart server: ' + (e.message || e));
      return;
    }
    view.revision = list.revision;
    view.charts = list.charts;
    const select = $('chart-select');
    for (const chart of view.charts) {
      const option = document.createElement('option');
      option.value = chart.id;
      option.textContent = chart.fields.name ? `${chart.fields.name} (${chart.file})` : chart.file;
      select.append(option);
    }
    $('chart-choice').hidden = view.charts.length < 2;
    applyHash();
    window.addEventListener('hashchange', applyHash);
    view.map.getContainer().focus();
    view.ready = true;
  }

  // The chart, palette and view the address names (an edited address, or
  // back and forward, as well as a reload).
  function applyHash() {
    const state = readHash();
    const chart = view.charts.find((c) => c.id === state.chart) || view.chart || view.charts[0];
    if (!chart) return;
    if (chart.id !== state.chart) Object.assign(state, { z: null, x: null, y: null });
    if (chart !== view.chart) {
      showChart(chart, state);
      return;
    }
    if (state.palette && chart.palettes.some((p) => p.key === state.palette)) {
      setPalette(state.palette);
      for (const input of $('palettes').querySelectorAll('input')) input.checked = input.value === state.palette;
    }
    if (state.z !== null && state.x !== null && state.y !== null)
      view.map.setView([state.y, state.x], state.z, { animate: false });
  }

  start();
})();
