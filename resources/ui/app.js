// The reference page: a small single-page UI that talks to the core only through the native
// bridge. It lists the core's answers and live events and offers a button for every message
// the application understands.
(() => {
  'use strict';
  const bridge = window.__zorvelBridge;
  const params = new URLSearchParams(location.search);
  if (params.has('nomount')) return;

  // Whatever the application tells a page is also sent to the core's echo endpoint, so a test
  // can read from the core's record what each page received.
  const report = (page, name, detail) => {
    if (!bridge) return;
    fetch('/__test/echo', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ page_event: { page, name, detail: detail ?? null } }),
    }).catch(() => {});
  };
  const applicationEvents = [
    'zorvel:open-link', 'zorvel:native-overlay-open', 'zorvel:native-overlay-result', 'zorvel:native-overlay-closed',
    'zorvel:native-overlay-dismiss', 'zorvel:executable-picked', 'zorvel:project-directory-picked',
    'zorvel:core-restarted', 'zorvel:open-settings', 'zorvel:profile-login-changed',
  ];

  const element = (tag, properties = {}, ...children) => {
    const node = document.createElement(tag);
    Object.assign(node, properties);
    for (const child of children) node.append(child);
    return node;
  };

  if (params.get('native-overlay') === 'host') {
    runOverlayHost();
    return;
  }

  const status = element('span', { className: 'status', textContent: 'connecting' });
  const coreList = element('ul');
  const eventList = element('ul');
  const receivedList = element('ul');
  // Entries are cut short: one huge event would otherwise fill the page with its text.
  const longestEntry = 500;
  const log = (list, text) => {
    const shown = text.length > longestEntry ? `${text.slice(0, longestEntry)}\u2026 (${text.length} characters)` : text;
    list.prepend(element('li', { textContent: shown }));
    while (list.children.length > 50) list.lastChild.remove();
  };

  const sampleTaskID = '00000000-0000-4000-8000-000000000001';
  const messages = {
    'theme light': { kind: 'theme', value: 'light' },
    'theme dark': { kind: 'theme', value: 'dark' },
    'ui error': { kind: 'ui-error', message: 'Reference page error' },
    'memory sample': { kind: 'web-memory-profile', used_js_heap_size: performance.memory?.usedJSHeapSize ?? 0 },
    'open overlay': { kind: 'open-modal-overlay', overlay: 'feedback' },
    'overlay result': { kind: 'modal-overlay-result', result: 'ok' },
    'close overlay': { kind: 'close-modal-overlay', generation: 1 },
    'resize overlay': { kind: 'modal-overlay-resize', generation: 1, width: 640, height: 480 },
    'overlay ready': { kind: 'modal-overlay-ready', generation: 1 },
    'overlay host ready': { kind: 'modal-overlay-host-ready' },
    notification: { kind: 'native-notification', task_id: sampleTaskID, title: 'Task finished', body: 'Sample is done' },
    'notification debug': { kind: 'native-notification-debug', event_count: 1, task_id: sampleTaskID, bridge_available: true },
    expand: { kind: 'expand' },
    'pick executable': { kind: 'pick-executable', agent: 'codex' },
    'pick project folder': { kind: 'pick-project-directory' },
    'profile login': { kind: 'agent-profile-login', profile_id: 'default' },
    'triage recovery': { kind: 'triage-recovery', task_id: sampleTaskID, title: 'Sample', agent: 'codex', error: 'Login required', login_required: true },
    'stop terminal': { kind: 'stop-terminal', task_id: sampleTaskID },
    'preserve focus': { kind: 'preserve-terminal-focus' },
    'restore focus': { kind: 'restore-terminal-focus' },
    'sidebar resize start': { kind: 'sidebar-resize-start' },
    'sidebar resize end': { kind: 'sidebar-resize-end', width: 360 },
    'sidebar width': { kind: 'sidebar-width', width: 360 },
    'task message': { task_id: sampleTaskID, title: 'Sample', session_ids: [], runtime_status: 'idle', agent: 'codex', focus: true, launch: false },
  };
  const actions = element('div', { className: 'actions' });
  for (const [label, message] of Object.entries(messages)) {
    actions.append(element('button', { textContent: label, onclick: () => bridge.post(message) }));
  }
  actions.append(element('button', { textContent: 'fetch /desktop-runtime', onclick: () => loadRuntime() }));
  actions.append(element('button', { textContent: 'start task', onclick: () => startTask() }));
  actions.append(element('button', {
    textContent: 'alert loop', onclick: () => pageCommands.dialog_loop({ dialog_loop: { id: 'button', kind: 'alert' } }),
  }));

  // A real task of the core, run in a native terminal; the last one started is the one stopped.
  const projectID = '00000000-0000-4000-8000-0000000000aa';
  let lastTask = null;
  async function startTask() {
    try {
      const response = await fetch('/tasks', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ title: 'Reference task', project_id: projectID }),
      });
      const task = await response.json();
      if (!response.ok) throw new Error(task.detail || `HTTP ${response.status}`);
      lastTask = task;
      log(coreList, `task ${task.id} started`);
      bridge.post({ task_id: task.id, title: 'Reference task', session_ids: [], runtime_status: 'idle', agent: 'codex',
                    project_id: projectID, focus: true, launch: true });
    } catch (error) {
      log(coreList, `error: ${error.message}`);
    }
  }
  // The ways a page's script opens an address: a new window, a click it makes on a link (for this
  // window or a new one), its own address, or a frame's; or what else only a user's action lets a
  // page do: show itself in full screen, or write the text given as "href" to the clipboard (by the
  // clipboard's API, or by a copy command that puts it there). Each gives what came of it. The rest
  // are what raises a dialog or a window: printing, a file or colour field's chooser (what is chosen
  // is reported), asking before the page is left while it reloads itself every 700 ms, the
  // permissions a page may ask for, the pointer held by the page, and a message to the application
  // given as JSON text in "href" (its pickers, its login window).
  const scriptedClick = (properties) => {
    const link = element('a', properties);
    document.body.append(link);
    link.click();
    link.remove();
  };
  const settled = (promise, done) => promise.then(() => done, () => 'refused');
  const chooser = (type) => {
    const field = element('input', { type, className: 'chooser-field' });
    field.addEventListener('change', () => report('main', 'chosen', { type, value: field.value }));
    document.body.append(field);
    field.getBoundingClientRect();  // laid out, as a colour field opens nothing before
    field.click();
    return 'asked';
  };
  const pointerHeld = () => new Promise((resolve) => {
    document.addEventListener('pointerlockchange', () => resolve(document.pointerLockElement ? 'held' : 'let go'), { once: true });
    document.addEventListener('pointerlockerror', () => resolve('refused'), { once: true });
    document.body.requestPointerLock();
  });
  const openings = {
    window: (href) => Boolean(window.open(href)),
    blank: (href) => scriptedClick({ href, target: '_blank' }),
    self: (href) => scriptedClick({ href }),
    save: (href) => scriptedClick({ href, download: 'saved by a script.txt' }),
    address: (href) => { location.href = href; },
    frame: (href) => document.body.append(element('iframe', { src: href, hidden: true })),
    fullscreen: () => settled(document.documentElement.requestFullscreen(), 'shown'),
    clipboard: (text) => settled(navigator.clipboard.writeText(text), 'written'),
    copy: (text) => {
      const put = (event) => { event.clipboardData.setData('text/plain', text); event.preventDefault(); };
      document.addEventListener('copy', put, { once: true });
      const copied = document.execCommand('copy');
      document.removeEventListener('copy', put);
      return copied ? 'written' : 'refused';
    },
    print: () => { window.print(); return 'returned'; },
    file: () => chooser('file'),
    color: () => chooser('color'),
    leave: () => {
      window.addEventListener('beforeunload', (event) => { event.preventDefault(); event.returnValue = 'x'; });
      setInterval(() => location.reload(), 700);
      return 'reloading';
    },
    notification: () => (window.Notification ? Notification.requestPermission() : 'unsupported'),
    location: () => new Promise((resolve) => navigator.geolocation.getCurrentPosition(() => resolve('shared'), () => resolve('refused'))),
    camera: () => (navigator.mediaDevices ? settled(navigator.mediaDevices.getUserMedia({ video: true }), 'shared') : 'unsupported'),
    pointer: () => pointerHeld(),
    post: (text) => { bridge.post(JSON.parse(text)); return 'posted'; },
  };
  const openAll = ({ how, href, times }) => {
    if (!Object.hasOwn(openings, how)) return Promise.resolve([]);
    const outcomes = [];
    for (let i = 0; i < (Number(times) || 1); i++) outcomes.push(openings[how](href));
    return Promise.all(outcomes);
  };

  const scriptDialogs = { alert: (text) => alert(text), confirm: (text) => confirm(text), prompt: (text, value) => prompt(text, value) };
  const pageCommands = {
    start_task: () => startTask(),
    stop_task: () => lastTask && bridge.post({ kind: 'stop-terminal', task_id: lastTask.id }),
    expand: () => bridge.post({ kind: 'expand' }),
    sidebar_width: (data) => bridge.post({ kind: 'sidebar-width', width: data.sidebar_width }),
    // Any message to the application, as if the page had sent it; values kept in local storage.
    post: (data) => bridge && typeof data.post === 'object' && data.post && bridge.post(data.post),
    // Opens the script dialog asked for and reports what it was answered, once the user has.
    dialog: (data) => {
      const { id, kind, message, value, repeat } = data.dialog ?? {};
      const text = String(message ?? '').repeat(Number(repeat) || 1);
      if (!Object.hasOwn(scriptDialogs, kind)) return;
      const answer = scriptDialogs[kind](text, value);
      report('main', 'dialog-answered', { id, kind, answer: answer === undefined ? null : answer });
    },
    // A page that asks again and again: one dialog after another, each opened as soon as the last
    // is answered; the answers are reported once the row ends.
    dialog_loop: (data) => {
      const { id, kind, times } = data.dialog_loop ?? {};
      if (!Object.hasOwn(scriptDialogs, kind)) return;
      const answers = [];
      for (let i = 0; i < (Number(times) || 200); i++) answers.push(scriptDialogs[kind](`${kind} ${i}`, '') ?? null);
      report('main', 'dialog-loop-ended', { id, answers });
    },
    // A runaway script: the page's process spins for good, at once or after the given delay, and
    // hears nothing more from the application.
    busy: (data) => {
      const { after_ms } = data.busy ?? {};
      setTimeout(() => { for (;;) {} }, Number(after_ms) || 0);
    },
    // Many requests at once, as a busy page makes them; says how many were answered with 200 and
    // how long all took, once every one has settled.
    fetch_flood: async (data) => {
      const { id, count } = data.fetch_flood ?? {};
      const total = Math.min(Number(count) || 0, 100000);
      const started = performance.now();
      const requests = [];
      for (let i = 0; i < total; i++) requests.push(fetch(`/__test/echo/flood${i}`).then((response) => response.status));
      const statuses = await Promise.allSettled(requests);
      const ok = statuses.filter((settled) => settled.value === 200).length;
      report('main', 'fetch-flood-done', { id, count: total, ok, ms: Math.round(performance.now() - started) });
    },
    reload: () => location.reload(),
    // Reloads the page, whose leave-page handler has the application ask the user first.
    leave: () => {
      window.addEventListener('beforeunload', (event) => { event.preventDefault(); event.returnValue = ''; }, { once: true });
      location.reload();
    },
    // Lays a link over the whole page for the user to click (or, with "focus", to press Enter on):
    // an anchor with the address and target given, or, with "open", a button whose click opens the
    // address in a new window by script (or another way, "how"), "times" times, at once, after
    // the answer of a fetch ("after": "fetch") or a while after the click ("delay_ms"). An anchor
    // with "download" saves what it names under that name; with "blob" it names a file the page
    // made of that text.
    link: (data) => {
      const { target, open, how, times, after, focus, download, blob, delay_ms } = data.link ?? {};
      const href = typeof blob === 'string' ? URL.createObjectURL(new Blob([blob], { type: 'text/plain' })) : data.link?.href;
      if (typeof href !== 'string') return;
      const opening = { how: how ?? 'window', href, times };
      const onclick = () => {
        if (after === 'fetch') return fetch('/desktop-runtime').then(() => openAll(opening));
        if (Number(delay_ms) > 0) return setTimeout(() => openAll(opening), Number(delay_ms));
        return openAll(opening);
      };
      const cover = open
        ? element('button', { textContent: `open ${href}`, onclick })
        : element('a', { href, target: target ?? '', textContent: href });
      if (!open && typeof download === 'string') cover.download = download;
      cover.className = 'link-cover';
      cover.addEventListener('click', () => setTimeout(() => cover.remove()));
      document.body.append(cover);
      if (focus) cover.focus();
    },
    // Opens an address with nothing the user did behind it, as a hostile page would: in this
    // event's handler, after the answer of a fetch made there, or in the handler of the next
    // application event of that name ("after": "event", "fetch" or "zorvel:..."), and again every
    // "every_ms" until the page is left; "how" names the way (openings above). With an "id",
    // reports whether the page had the user's activation then, and what came of each opening.
    unasked: (data) => {
      const { after, id, every_ms, ...opening } = data.unasked ?? {};
      const open = async () => {
        const active = navigator.userActivation.isActive;
        const outcomes = await openAll(opening);
        if (id !== undefined) report('main', 'unasked', { id, active, outcomes });
      };
      if (after === 'fetch') fetch('/desktop-runtime').then(open, () => {});
      else if (typeof after === 'string' && after.startsWith('zorvel:')) window.addEventListener(after, open, { once: true });
      else open();
      if (Number(every_ms) > 0) setInterval(open, Math.max(Number(every_ms), 100));
    },
    // Lays a text field over the whole page for the user to click into and type in, and says so
    // once it shows; what is typed there only stays in the field.
    field: () => {
      const field = element('input', { type: 'text', className: 'link-cover', placeholder: 'type here' });
      document.body.append(field);
      requestAnimationFrame(() => requestAnimationFrame(() => report('main', 'field-shown', null)));
    },
    // A page that replaces what a script of the application could call (the built-ins, the
    // bridge's functions, its way into the page) with its own, which note when they run with the
    // user's activation and then do as the originals did. "tampered" reports what they noted, once
    // the answer of a fetch made after it has come.
    tamper: () => tamper(),
    tampered: () => fetch('/desktop-runtime').then(() => report('main', 'tampered', tamperings()), () => {}),
    storage: (data) => {
      if (!data.storage || typeof data.storage !== 'object') return;
      for (const [key, value] of Object.entries(data.storage)) localStorage.setItem(key, String(value));
    },
  };

  const activeIn = new Set();
  const tamperings = () => ({ active: [...activeIn].sort() });
  function tamper() {
    const apply = Reflect.apply;
    const defineProperty = Object.defineProperty;
    const note = (name) => { if (navigator.userActivation.isActive) activeIn.add(name); };
    const wrap = (holder, key, name) => {
      const original = holder[key];
      if (typeof original !== 'function') return;
      const replacement = function (...values) {
        note(name);
        return new.target ? Reflect.construct(original, values) : apply(original, this, values);
      };
      replacement.prototype = original.prototype;
      try {
        defineProperty(holder, key, { value: replacement, writable: true, configurable: true });
      } catch (_) {
        activeIn.add(`kept ${name}`);
      }
    };
    for (const [holder, keys, prefix] of [
      [JSON, ['parse', 'stringify'], 'JSON.'],
      [Array.prototype, ['push', 'shift', 'splice'], 'Array.prototype.'],
      [Function.prototype, ['call', 'apply', 'bind'], 'Function.prototype.'],
      [Object, ['create', 'defineProperty', 'freeze'], 'Object.'],
      [Promise.prototype, ['then'], 'Promise.prototype.'],
      [Promise, ['resolve'], 'Promise.'],
      [MessagePort.prototype, ['postMessage'], 'MessagePort.prototype.'],
      [EventTarget.prototype, ['dispatchEvent', 'addEventListener'], 'EventTarget.prototype.'],
      [window, ['setTimeout', 'queueMicrotask', 'postMessage', 'MessageChannel', 'CustomEvent', 'Event',
        '__zorvelNativeFetchResponse', '__zorvelNativeEventSourceEvent'], ''],
    ]) {
      for (const key of keys) wrap(holder, key, prefix + key);
    }
    // Setters of the first indices, which a queue kept in an array or an object would go through.
    for (let index = 0; index < 64; index++) {
      defineProperty(Object.prototype, index, {
        configurable: true,
        set(value) {
          note(`[${index}]`);
          defineProperty(this, index, { value, writable: true, enumerable: true, configurable: true });
        },
      });
    }
    const onmessage = Object.getOwnPropertyDescriptor(MessagePort.prototype, 'onmessage');
    defineProperty(MessagePort.prototype, 'onmessage', {
      configurable: true,
      get() { return apply(onmessage.get, this, []); },
      set(handler) { note('MessagePort.prototype.onmessage'); apply(onmessage.set, this, [handler]); },
    });
    // Any other global of the application's is taken over where it can be, by one that runs what
    // it is given at once.
    const bridgeOwn = /^__zorvel(Native|Bridge)/;
    for (const name of Object.getOwnPropertyNames(window).filter((key) => key.startsWith('__zorvel') && !bridgeOwn.test(key))) {
      const taken = (...values) => { note(name); return typeof values[0] === 'function' ? values[0]() : undefined; };
      try { window[name] = taken; } catch (_) { /* held fast */ }
      try { defineProperty(window, name, { value: taken }); } catch (_) { /* held fast */ }
    }
  }

  const root = document.getElementById('root');
  root.append(
    element('header', {}, element('h1', { textContent: 'ZORVEL' }), status,
      element('span', { className: 'status', textContent: bridge ? bridge.baseURL : 'no bridge' })),
    element('main', {},
      element('section', {}, element('h2', { textContent: 'Core' }), coreList),
      element('section', {}, element('h2', { textContent: 'Live events' }), eventList),
      element('section', {}, element('h2', { textContent: 'Messages to the application' }), actions),
      element('section', {}, element('h2', { textContent: 'From the application' }), receivedList)));

  const setStatus = (text, ok) => {
    status.textContent = text;
    status.className = 'status ' + (ok ? 'ok' : 'bad');
  };

  async function loadRuntime() {
    try {
      const response = await fetch('/desktop-runtime');
      const body = await response.json().catch(() => ({}));
      if (!response.ok) throw new Error(body.detail || `HTTP ${response.status}`);
      setStatus('connected', true);
      log(coreList, `runtime ${body.kind || '?'} protocol ${body.protocol_version ?? '?'} pid ${body.pid ?? '?'}`);
    } catch (error) {
      setStatus('offline', false);
      log(coreList, `error: ${error.message}`);
    }
  }

  // An event whose data asks for it ({"echo": true, ...}) is sent back to the core, so whoever
  // pushed it can see that it reached the page and that the page's requests reach the core.
  function acknowledge(event) {
    let data;
    try {
      data = JSON.parse(event.data);
    } catch (_) {
      return;
    }
    if (!data) return;
    for (const [name, command] of Object.entries(pageCommands)) if (data[name] !== undefined) command(data);
    if (data.echo !== true) return;
    fetch('/__test/echo', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ ack: data, last_event_id: event.lastEventId }),
    }).catch(() => {});
  }

  // Whether the last stream ended: a new one that opens then asks the core again, so the page
  // says it is connected once more rather than offline for good.
  let streamEnded = false;
  function openEvents() {
    const source = new EventSource('/events');
    source.onopen = () => {
      log(eventList, 'stream open');
      if (streamEnded) loadRuntime();
      streamEnded = false;
    };
    source.onmessage = (event) => {
      log(eventList, `${event.lastEventId || '-'} ${event.data}`);
      acknowledge(event);
    };
    source.onerror = (event) => {
      // The stream ends when the core goes away: until a runtime answer says otherwise, the
      // page is not connected.
      setStatus('offline', false);
      streamEnded = true;
      log(eventList, `stream closed: ${event.message || 'error'}`);
      setTimeout(openEvents, 3000);
    };
  }

  for (const name of ['zorvel:core-restarted', 'zorvel:open-link', 'zorvel:open-settings', 'zorvel:profile-login-changed',
    'zorvel:start-task', 'zorvel:retry-triage', 'zorvel:skip-triage', 'zorvel:login-complete']) {
    window.addEventListener(name, (event) => log(receivedList, `${name} ${JSON.stringify(event.detail ?? null)}`));
  }
  window.addEventListener('zorvel:core-restarted', () => loadRuntime());
  for (const name of applicationEvents) window.addEventListener(name, (event) => report('main', name, event.detail));
  document.addEventListener('fullscreenchange', () => report('main', 'fullscreen', { on: Boolean(document.fullscreenElement) }));

  if (bridge) {
    loadRuntime();
    if (!params.has('noevents')) openEvents();
  }

  // The dialog host of the native overlay: one dialog at a time, each tied to the generation of
  // the opening that asked for it.
  function runOverlayHost() {
    document.body.classList.add('overlay-host', params.get('theme') === 'light' ? 'light' : 'dark');
    const root = document.getElementById('root');
    let current = null;
    const post = (message) => bridge && bridge.post(message);
    const close = () => current && post({ kind: 'close-modal-overlay', generation: current.generation });

    for (const name of applicationEvents) window.addEventListener(name, (event) => report('overlay', name, event.detail));

    // Says once per opening when the dialog has the keyboard, so a test types only once keys reach it.
    let keyboardFor = null;
    const reportKeyboard = () => {
      if (!current || keyboardFor === current.generation || !document.hasFocus()) return;
      keyboardFor = current.generation;
      report('overlay', 'keyboard', { generation: current.generation });
    };
    window.addEventListener('focus', reportKeyboard);

    window.addEventListener('zorvel:native-overlay-open', (event) => {
      const detail = event.detail || {};
      current = detail;
      const payload = detail.payload || {};
      const confirm = element('button', { className: 'confirm', textContent: payload.confirm_label || 'OK' });
      const cancel = element('button', { className: 'cancel', textContent: 'Cancel' });
      confirm.onclick = () => post({
        kind: 'modal-overlay-result',
        request_id: String(payload.request_id ?? detail.kind),
        generation: detail.generation,
        confirmed: true,
      });
      cancel.onclick = close;
      document.body.classList.toggle('light', detail.theme === 'light');
      document.body.classList.toggle('dark', detail.theme !== 'light');
      root.replaceChildren(element('div', { className: 'dialog' },
        element('h2', { textContent: payload.title || detail.kind }),
        element('p', { textContent: payload.content || (detail.error_event && detail.error_event.message) || '' }),
        element('div', { className: 'buttons' }, cancel, confirm)));
      confirm.focus();
      reportKeyboard();
      let ready = false;
      const reportReady = () => {
        if (ready || current !== detail) return;
        ready = true;
        post({ kind: 'modal-overlay-ready', generation: detail.generation });
        if (payload.resize) post({ kind: 'modal-overlay-resize', generation: detail.generation, ...payload.resize });
        reportKeyboard();
      };
      requestAnimationFrame(reportReady);
      setTimeout(reportReady, 200);
    });
    window.addEventListener('zorvel:native-overlay-dismiss', close);
    window.addEventListener('zorvel:native-overlay-closed', () => {
      current = null;
      root.replaceChildren();
    });
    window.addEventListener('keydown', (event) => {
      if (event.key === 'Escape') close();
    });

    const delay = Number(localStorage.getItem('zorvel-overlay-host-delay') || 0);
    setTimeout(() => post({ kind: 'modal-overlay-host-ready' }), delay > 0 ? Math.min(delay, 30000) : 0);
  }
})();
