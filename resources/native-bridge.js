// The page's half of the native bridge. It runs at document start in the top frame, before any
// page script, and routes the page's requests to the core through the application: fetches and
// event streams go out as script messages and come back through the window functions below.
(() => {
  'use strict';
  if (window.__zorvelBridgeInstalled) return;
  window.__zorvelBridgeInstalled = true;

  // The application's message handler is out of the page's reach, in a script world that only
  // the top frame has; its relay there takes each message as JSON text in a cancelable event and
  // cancels the event when it took it. The page posts as it always has, through
  // window.webkit.messageHandlers.zorvelTerminal, which is this frame's alone.
  const relayEvent = 'zorvel-native-message';
  const dispatch = EventTarget.prototype.dispatchEvent;
  const NativeCustomEvent = window.CustomEvent;
  const stringify = JSON.stringify;
  const relay = (text) => !dispatch.call(window, new NativeCustomEvent(relayEvent, { detail: text, cancelable: true }));
  // Whether the application took the message.
  const post = (message) => {
    const text = stringify(message === undefined ? null : message);
    return relay(text);
  };
  const handler = Object.freeze({ postMessage: (message) => { post(message); } });
  try {
    if (!window.webkit || typeof window.webkit !== 'object') {
      Object.defineProperty(window, 'webkit', { value: Object.freeze({ messageHandlers: Object.freeze({ zorvelTerminal: handler }) }) });
    } else if (!window.webkit.messageHandlers) {
      Object.defineProperty(window.webkit, 'messageHandlers', { value: Object.freeze({ zorvelTerminal: handler }) });
    } else {
      Object.defineProperty(window.webkit.messageHandlers, 'zorvelTerminal', { value: handler });
    }
  } catch (_) {
    // The page keeps __zorvelBridge.post.
  }
  const baseURL = String(window.__ZORVEL_BASE_URL__ || '').replace(/\/+$/, '');
  const received = [];
  const remember = (entry) => {
    received.push(entry);
    if (received.length > 500) received.shift();
  };

  // What reached the page, for whoever needs to look (the reference page shows it, tests read it).
  window.__zorvelBridge = {
    post,
    received,
    baseURL,
    get available() {
      return relay('');
    },
  };

  // ---- fetch ----
  const nativeFetch = window.fetch.bind(window);
  const pendingFetches = new Map();
  let nextFetchID = 1;

  // A core path for the native side, or null when the request is for the page's own files.
  const corePath = (url) => {
    if (baseURL && (url === baseURL || url.startsWith(baseURL + '/') || url.startsWith(baseURL + '?'))) {
      return url.slice(baseURL.length) || '/';
    }
    if (url.startsWith('//')) return url;
    if (url.startsWith('/')) return url;
    if (/^[a-zA-Z][a-zA-Z0-9+.-]*:/.test(url) && !/^zorvel-ui:/i.test(url)) return url;
    return null;
  };

  const nullBodyStatus = new Set([101, 204, 205, 304]);

  window.__zorvelNativeFetchResponse = (id, body, headers, status) => {
    const pending = pendingFetches.get(id);
    remember({ kind: 'fetch-response', id, status, body, headers });
    if (!pending) return;
    pendingFetches.delete(id);
    try {
      const init = { status: status >= 200 && status <= 599 ? status : 599, headers: new Headers() };
      for (const [name, value] of Object.entries(headers || {})) {
        try {
          init.headers.append(name, value);
        } catch (_) {
          // A header the page's Headers refuses is left out.
        }
      }
      pending.resolve(new Response(nullBodyStatus.has(init.status) ? null : body, init));
    } catch (error) {
      pending.reject(error);
    }
  };

  window.fetch = (input, init = {}) => {
    const request = input instanceof Request ? input : null;
    const url = request ? request.url : String(input);
    const path = corePath(url);
    if (path === null) return nativeFetch(input, init);

    const headers = {};
    new Headers(init.headers || (request ? request.headers : undefined)).forEach((value, name) => {
      headers[name] = value;
    });
    let body = init.body;
    if (body instanceof URLSearchParams) body = body.toString();
    if (body !== undefined && body !== null && typeof body !== 'string') body = String(body);
    const id = `fetch-${nextFetchID++}`;
    return new Promise((resolve, reject) => {
      pendingFetches.set(id, { resolve, reject });
      const message = {
        kind: 'fetch',
        id,
        path,
        method: String(init.method || (request ? request.method : 'GET')).toUpperCase(),
        headers,
      };
      if (typeof body === 'string') message.body = body;
      if (!post(message)) {
        pendingFetches.delete(id);
        reject(new TypeError('The native bridge is not available'));
      }
    });
  };

  // ---- EventSource ----
  const streams = new Map();
  let nextStreamID = 1;

  class ZorvelEventSource extends EventTarget {
    constructor(url, options = {}) {
      super();
      this.url = new URL(String(url), baseURL + '/').href;
      this.withCredentials = Boolean(options.withCredentials);
      this.readyState = ZorvelEventSource.CONNECTING;
      this.onopen = null;
      this.onmessage = null;
      this.onerror = null;
      this.streamID = `stream-${nextStreamID++}`;
      streams.set(this.streamID, this);
      const message = { kind: 'event-stream-open', id: this.streamID, url: this.url };
      if (options.lastEventId) message.last_event_id = String(options.lastEventId);
      post(message);
    }

    close() {
      if (this.readyState === ZorvelEventSource.CLOSED) return;
      this.readyState = ZorvelEventSource.CLOSED;
      streams.delete(this.streamID);
      post({ kind: 'event-stream-close', id: this.streamID });
    }

    emit(event) {
      const property = this['on' + event.type];
      if (typeof property === 'function') property.call(this, event);
      this.dispatchEvent(event);
    }
  }
  ZorvelEventSource.CONNECTING = 0;
  ZorvelEventSource.OPEN = 1;
  ZorvelEventSource.CLOSED = 2;

  window.__zorvelNativeEventSourceOpened = (id) => {
    remember({ kind: 'stream-opened', id });
    const source = streams.get(id);
    if (!source) return;
    source.readyState = ZorvelEventSource.OPEN;
    source.emit(new Event('open'));
  };

  window.__zorvelNativeEventSourceEvent = (id, type, data, lastEventId) => {
    remember({ kind: 'stream-event', id, type, data, lastEventId });
    const source = streams.get(id);
    if (!source) return;
    source.emit(new MessageEvent(type, { data, lastEventId: lastEventId === null ? '' : lastEventId }));
  };

  window.__zorvelNativeEventSourceError = (id, message) => {
    remember({ kind: 'stream-error', id, message });
    const source = streams.get(id);
    if (!source) return;
    // The native side never reconnects; the page opens a new source when it wants one.
    source.readyState = ZorvelEventSource.CLOSED;
    streams.delete(id);
    const event = new Event('error');
    event.message = message;
    source.emit(event);
  };

  window.EventSource = ZorvelEventSource;

  // ---- events from the application ----
  const nativeEvents = [
    'zorvel:open-link', 'zorvel:native-overlay-open', 'zorvel:native-overlay-result', 'zorvel:native-overlay-closed',
    'zorvel:native-overlay-dismiss', 'zorvel:executable-picked', 'zorvel:project-directory-picked',
    'zorvel:profile-login-changed', 'zorvel:core-restarted', 'zorvel:open-settings', 'zorvel:external-pointerdown',
  ];
  for (const name of nativeEvents) {
    window.addEventListener(name, (event) => remember({ kind: 'event', name, detail: event.detail ?? null }));
  }

  // Uncaught page errors become the application's transient error label.
  window.addEventListener('error', (event) => {
    post({ kind: 'ui-error', message: String(event.message || 'Unknown JavaScript error') });
  });
})();
