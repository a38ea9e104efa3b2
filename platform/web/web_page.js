// The page's side of the web backend, put in front of the player's script.
// It owns what the page shows and plays: the canvas of the one window, the
// error dialog and Web Audio; it turns page input into events for the
// backend (web_backend.cpp, web_audio.cpp call the functions below), and
// before main it lays out the program the player opens: the movie from the
// page's "kmov-movie" element as the program's own file, the startup block
// from its "kmov-startup" element into the program's data.
//
// The page's elements are those of kmovsp.html: #kmov-screen (the canvas),
// #kmov-dialog with #kmov-dialog-title, #kmov-dialog-text and
// #kmov-dialog-button.

var kmovWeb = (function () {
  // The same numbers as web.h and windows.h.
  const EVENT_LBUTTONDOWN = 1, EVENT_LBUTTONUP = 2, EVENT_CLOSE = 3;
  const PROGRAM_PATH = '/kmovsp';
  // The bytes the startup block follows in the program's data.
  const STARTUP_MARKER = [0x7f, 0x6b, 0x4d, 0x6f, 0x76, 0x53, 0x50, 0x2d,
                          0x73, 0x74, 0x61, 0x72, 0x74, 0x75, 0x70, 0x00];
  const STARTUP_BLOCK_SIZE = 8 + 256;

  const events = []; // kind, x, y, kind, x, y, ... oldest first
  let wakeUp = null; // ends the player's wait early
  let ended = false;

  function element(id) { return document.getElementById(id); }

  function cString(pointer) {
    let end = pointer;
    while (HEAPU8[end] !== 0) end++;
    return HEAPU8.slice(pointer, end);
  }

  // The core's UTF-8 text (titles and boxes); what does not decode shows
  // as U+FFFD.
  function fromUtf8(bytes) {
    return new TextDecoder('utf-8').decode(bytes);
  }

  function post(kind, x, y) {
    if (ended) return;
    events.push(kind, x, y);
    if (wakeUp) { const wake = wakeUp; wakeUp = null; wake(); }
  }

  // ---- The screen ----------------------------------------------------------

  // The canvas shows the client area scaled by the largest whole multiple
  // (in device pixels) that fits the page, centred on black. A page smaller
  // than the frame (a phone) shrinks it to fit, so the whole picture shows.
  function layout() {
    const canvas = element('kmov-screen');
    if (!canvas) return;
    const ratio = window.devicePixelRatio || 1;
    const fit = Math.min(window.innerWidth * ratio / canvas.width,
                         window.innerHeight * ratio / canvas.height);
    const scale = fit >= 1 ? Math.floor(fit) : fit;
    canvas.style.width = (canvas.width * scale / ratio) + 'px';
    canvas.style.height = (canvas.height * scale / ratio) + 'px';
  }

  // Client coordinates of a mouse event on the canvas.
  function clientPoint(event) {
    const canvas = element('kmov-screen');
    const box = canvas.getBoundingClientRect();
    const x = Math.floor((event.clientX - box.left) * canvas.width / box.width);
    const y = Math.floor((event.clientY - box.top) * canvas.height / box.height);
    return [Math.min(Math.max(x, 0), canvas.width - 1), Math.min(Math.max(y, 0), canvas.height - 1)];
  }

  function listen() {
    const canvas = element('kmov-screen');
    window.addEventListener('resize', layout);
    // A press anywhere is the user's gesture that lets sound out; one that
    // does that is not also a click on the movie, so the movie goes on.
    document.addEventListener('mousedown', event => {
      if (unlockAudio()) return;
      if (event.target === canvas && event.button === 0) {
        const [x, y] = clientPoint(event);
        post(EVENT_LBUTTONDOWN, x, y);
      }
    });
    document.addEventListener('mouseup', event => {
      if (event.target === canvas && event.button === 0) {
        const [x, y] = clientPoint(event);
        post(EVENT_LBUTTONUP, x, y);
      }
    });
    document.addEventListener('keydown', unlockAudio);
    // Leaving the page closes the window, as the close box would; coming
    // back to it (the browser's back button) starts it afresh.
    window.addEventListener('pagehide', () => post(EVENT_CLOSE, 0, 0));
    window.addEventListener('pageshow', event => { if (event.persisted) location.reload(); });
  }

  // ---- Sound ---------------------------------------------------------------

  // One device: buffers in the order written, each {flags, samples, started,
  // source and startAt (live), or timer, silentStart and remainingMs (in
  // silence)}. `live`: the context plays (the user has touched the page);
  // until then buffers take their time in silence on timers. `position`:
  // samples of the buffers played through since open or reset.
  const audio = { context: null, rate: 0, queue: [], paused: false, live: false,
                  nextTime: 0, silentEnd: 0, position: 0, done: 0, queued: 0 };
  const LEAD_SECONDS = 0.02; // room to schedule the first buffer after a gap

  function markDone(entry) {
    const word = entry.flags >> 2;
    HEAPU32[word] = (HEAPU32[word] & ~audio.queued) | audio.done;
  }

  // Marks a buffer done once it has played; buffers end in the order
  // written, so it is the oldest.
  function finished(entry) {
    const at = audio.queue.indexOf(entry);
    if (at < 0) return;
    for (const older of audio.queue.splice(0, at + 1)) {
      audio.position += older.samples.length;
      markDone(older);
    }
  }

  function startEntry(entry) {
    const seconds = entry.samples.length / audio.rate;
    entry.started = true;
    if (audio.live) {
      const context = audio.context;
      const buffer = context.createBuffer(1, Math.max(entry.samples.length, 1), audio.rate);
      buffer.copyToChannel(entry.samples, 0);
      const source = context.createBufferSource();
      source.buffer = buffer;
      source.connect(context.destination);
      source.onended = () => finished(entry);
      const at = Math.max(audio.nextTime, context.currentTime + LEAD_SECONDS);
      source.start(at);
      audio.nextTime = at + seconds;
      entry.source = source;
      entry.startAt = at;
    } else {
      const now = performance.now();
      entry.silentStart = Math.max(audio.silentEnd, now);
      audio.silentEnd = entry.silentStart + entry.remainingMs;
      entry.timer = setTimeout(() => finished(entry), audio.silentEnd - now);
    }
  }

  // Milliseconds of a silent buffer gone by.
  function silentPlayed(entry, now) {
    const before = entry.samples.length * 1000 / audio.rate - entry.remainingMs;
    return before + (entry.timer ? Math.max(0, now - entry.silentStart) : 0);
  }

  function unlockAudio() {
    if (!audio.context || audio.live || ended) return false;
    audio.context.resume();
    return true;
  }

  // The context runs for the first time: what is written from now on is
  // heard, behind what is still taking its time in silence.
  function goLive() {
    audio.live = true;
    const behind = Math.max(0, audio.silentEnd - performance.now()) / 1000;
    audio.nextTime = audio.context.currentTime + behind;
    if (audio.paused) audio.context.suspend();
    for (const entry of audio.queue) if (!entry.started) startEntry(entry);
  }

  function stopAll() {
    for (const entry of audio.queue) {
      if (entry.source) {
        entry.source.onended = null;
        try { entry.source.stop(); } catch (e) { /* never started */ }
        entry.source.disconnect();
      }
      if (entry.timer) clearTimeout(entry.timer);
    }
    const returned = audio.queue;
    audio.queue = [];
    audio.nextTime = 0;
    audio.silentEnd = 0;
    audio.position = 0;
    for (const entry of returned) markDone(entry);
  }

  // ---- The program ---------------------------------------------------------

  function base64Bytes(text) {
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  function findMarker() {
    let at = HEAPU8.indexOf(STARTUP_MARKER[0]);
    while (at >= 0) {
      let i = 1;
      while (i < STARTUP_MARKER.length && HEAPU8[at + i] === STARTUP_MARKER[i]) i++;
      if (i === STARTUP_MARKER.length) return at;
      at = HEAPU8.indexOf(STARTUP_MARKER[0], at + 1);
    }
    return -1;
  }

  // The page's movie becomes the program's own file; the page's startup
  // block replaces the one the template was built with.
  function loadProgram() {
    const movie = element('kmov-movie');
    FS.writeFile(PROGRAM_PATH, base64Bytes(movie ? movie.textContent : ''));
    const startup = element('kmov-startup');
    const block = base64Bytes(startup ? startup.textContent : '');
    if (block.length === STARTUP_BLOCK_SIZE) {
      const at = findMarker();
      if (at >= 0) HEAPU8.set(block, at + STARTUP_MARKER.length);
    }
  }

  const page = {
    // ---- Called by the backend ----
    takeEvent(kind, x, y) {
      if (events.length === 0) return 0;
      HEAP32[kind >> 2] = events.shift();
      HEAP32[x >> 2] = events.shift();
      HEAP32[y >> 2] = events.shift();
      return 1;
    },
    wait(ms) {
      return new Promise(resolve => {
        if (events.length > 0 && ms !== 0) { resolve(); return; }
        let timer = null;
        const wake = () => { if (timer !== null) clearTimeout(timer); wakeUp = null; resolve(); };
        if (ms >= 0) timer = setTimeout(wake, ms);
        if (ms !== 0) wakeUp = wake;
      });
    },
    messageBox(textPointer, titlePointer) {
      const text = fromUtf8(cString(textPointer));
      const title = fromUtf8(cString(titlePointer));
      console.error('MessageBoxA [' + title + '] ' + text);
      return new Promise(resolve => {
        element('kmov-dialog-title').textContent = title;
        element('kmov-dialog-text').textContent = text;
        const dialog = element('kmov-dialog');
        const button = element('kmov-dialog-button');
        button.onclick = () => { button.onclick = null; dialog.hidden = true; resolve(); };
        dialog.hidden = false;
        button.focus();
      });
    },
    screenSize(width, height) {
      const canvas = element('kmov-screen');
      canvas.width = width;
      canvas.height = height;
      layout();
    },
    screenShow(shown) {
      element('kmov-screen').hidden = !shown;
      layout();
    },
    screenTitle(title) {
      document.title = fromUtf8(cString(title));
    },
    screenIcon(argb, width, height) {
      const canvas = document.createElement('canvas');
      canvas.width = width;
      canvas.height = height;
      const image = new ImageData(width, height);
      for (let i = 0; i < width * height; i++) {
        const word = HEAPU32[(argb >> 2) + i];
        image.data.set([(word >> 16) & 255, (word >> 8) & 255, word & 255, word >>> 24], i * 4);
      }
      canvas.getContext('2d').putImageData(image, 0, 0);
      let link = document.querySelector('link[rel="icon"]');
      if (!link) {
        link = document.createElement('link');
        link.rel = 'icon';
        document.head.appendChild(link);
      }
      link.href = canvas.toDataURL('image/png');
    },
    screenPresent(rgba, width, height, x, y, w, h) {
      const canvas = element('kmov-screen');
      const pixels = new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4);
      canvas.getContext('2d').putImageData(new ImageData(pixels, width, height), 0, 0, x, y, w, h);
      if (performance.getEntriesByName('kmov-first-frame').length === 0)
        performance.mark('kmov-first-frame');
    },
    audioOpen(rate) {
      const Context = window.AudioContext || window.webkitAudioContext;
      if (!Context || audio.context) return 0;
      try {
        audio.context = new Context();
        audio.context.createBuffer(1, 1, rate); // a rate Web Audio cannot take: no device
      } catch (e) {
        if (audio.context) audio.context.close();
        audio.context = null;
        return 0;
      }
      Object.assign(audio, { rate, queue: [], paused: false, live: false, nextTime: 0,
                             silentEnd: 0, position: 0 });
      const context = audio.context;
      context.onstatechange = () => {
        if (context === audio.context && !audio.live && context.state === 'running') goLive();
      };
      if (context.state === 'running') goLive();
      return 1;
    },
    audioWrite(flags, samples, count, done, queued) {
      audio.done = done;
      audio.queued = queued;
      const floats = new Float32Array(count);
      const first = samples >> 1;
      for (let i = 0; i < count; i++) floats[i] = HEAP16[first + i] / 32768;
      const entry = { flags, samples: floats, started: false, source: null, startAt: 0,
                      timer: null, silentStart: 0, remainingMs: count * 1000 / audio.rate };
      audio.queue.push(entry);
      if (audio.live || !audio.paused) startEntry(entry);
    },
    audioPause() {
      audio.paused = true;
      if (audio.live) {
        audio.context.suspend();
        return;
      }
      // In silence: the buffers not yet ended keep what is left of their time.
      const now = performance.now();
      for (const entry of audio.queue) {
        if (!entry.timer) continue;
        clearTimeout(entry.timer);
        entry.remainingMs = Math.max(0, entry.samples.length * 1000 / audio.rate -
                                        silentPlayed(entry, now));
        entry.timer = null;
        entry.started = false;
      }
      audio.silentEnd = 0;
    },
    audioRestart() {
      audio.paused = false;
      if (audio.live) {
        audio.context.resume();
        return;
      }
      for (const entry of audio.queue) if (!entry.started) startEntry(entry);
    },
    audioReset() {
      stopAll();
    },
    audioPosition() {
      let samples = audio.position;
      const head = audio.queue[0];
      if (head && head.started) {
        const played = head.source
          ? (audio.context.currentTime - head.startAt) * audio.rate
          : silentPlayed(head, performance.now()) * audio.rate / 1000;
        samples += Math.floor(Math.min(Math.max(played, 0), head.samples.length));
      } else if (head && !head.source) {
        samples += Math.floor(silentPlayed(head, 0) * audio.rate / 1000);
      }
      return samples >>> 0;
    },
    audioClose() {
      stopAll();
      if (audio.context) audio.context.close();
      audio.context = null;
    },
    // ---- The page's own ----
    // The player has ended with `code`: the canvas goes, as the window does.
    ended(code) {
      ended = true;
      if (audio.context) page.audioClose();
      const canvas = element('kmov-screen');
      if (canvas) canvas.hidden = true;
      page.exitCode = code;
      window.dispatchEvent(new CustomEvent('kmov-exit', { detail: code }));
    },
    exitCode: null,
    audio,
  };

  // main waits for the whole page: the movie is its last element.
  Module['preRun'] = [function () {
    if (document.readyState === 'loading') {
      addRunDependency('kmov-page');
      document.addEventListener('DOMContentLoaded', () => removeRunDependency('kmov-page'));
    }
  }];
  Module['onRuntimeInitialized'] = function () {
    listen();
    loadProgram();
  };
  // Called once the program has really ended (exit with no wait pending).
  Module['onExit'] = code => page.ended(code);
  // exit() unwinds the program by throwing; after a wait on the browser
  // nothing catches it, and the page would report the program's ordinary
  // end as an error.
  const quietExit = event => {
    const thrown = event.type === 'error' ? event.error : event.reason;
    if (thrown instanceof ExitStatus) event.preventDefault();
  };
  window.addEventListener('error', quietExit);
  window.addEventListener('unhandledrejection', quietExit);
  Module['print'] = text => console.log(text);
  Module['printErr'] = text => console.error(text);
  return page;
})();
