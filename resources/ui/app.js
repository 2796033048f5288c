// The reference page: a small single-page UI that talks to the core only through the native
// bridge. It lists the core's answers and live events and offers a button for every message
// the application understands.
(() => {
  'use strict';
  const bridge = window.__zorvelBridge;
  const params = new URLSearchParams(location.search);
  if (params.has('nomount')) return;

  const element = (tag, properties = {}, ...children) => {
    const node = document.createElement(tag);
    Object.assign(node, properties);
    for (const child of children) node.append(child);
    return node;
  };

  const status = element('span', { className: 'status', textContent: 'connecting' });
  const coreList = element('ul');
  const eventList = element('ul');
  const receivedList = element('ul');
  const log = (list, text) => {
    list.prepend(element('li', { textContent: text }));
    while (list.children.length > 50) list.lastChild.remove();
  };

  const sampleTaskID = '00000000-0000-4000-8000-000000000001';
  const messages = {
    'theme light': { kind: 'theme', value: 'light' },
    'theme dark': { kind: 'theme', value: 'dark' },
    'ui error': { kind: 'ui-error', message: 'Reference page error' },
    'memory sample': { kind: 'web-memory-profile', used_js_heap_size: performance.memory?.usedJSHeapSize ?? 0 },
    'open overlay': { kind: 'open-modal-overlay', overlay: 'settings' },
    'overlay result': { kind: 'modal-overlay-result', result: 'ok' },
    'close overlay': { kind: 'close-modal-overlay', generation: 1 },
    'resize overlay': { kind: 'modal-overlay-resize', generation: 1, width: 640, height: 480 },
    'overlay ready': { kind: 'modal-overlay-ready', generation: 1 },
    'overlay host ready': { kind: 'modal-overlay-host-ready' },
    notification: { kind: 'native-notification', task_id: sampleTaskID, title: 'Task finished' },
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
  const pageCommands = {
    start_task: () => startTask(),
    stop_task: () => lastTask && bridge.post({ kind: 'stop-terminal', task_id: lastTask.id }),
    expand: () => bridge.post({ kind: 'expand' }),
    sidebar_width: (data) => bridge.post({ kind: 'sidebar-width', width: data.sidebar_width }),
  };

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

  function openEvents() {
    const source = new EventSource('/events');
    source.onopen = () => log(eventList, 'stream open');
    source.onmessage = (event) => {
      log(eventList, `${event.lastEventId || '-'} ${event.data}`);
      acknowledge(event);
    };
    source.onerror = (event) => {
      log(eventList, `stream closed: ${event.message || 'error'}`);
      setTimeout(openEvents, 3000);
    };
  }

  for (const name of ['zorvel:core-restarted', 'zorvel:open-link', 'zorvel:open-settings', 'zorvel:profile-login-changed',
    'zorvel:start-task', 'zorvel:retry-triage', 'zorvel:skip-triage', 'zorvel:login-complete']) {
    window.addEventListener(name, (event) => log(receivedList, `${name} ${JSON.stringify(event.detail ?? null)}`));
  }
  window.addEventListener('zorvel:core-restarted', () => loadRuntime());

  if (bridge) {
    loadRuntime();
    if (!params.has('noevents')) openEvents();
  }
})();
