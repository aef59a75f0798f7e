/**
 * qvlcapture.js: takes a fingerprint from a web page through qvlbridge, the local service that
 * runs beside qvlcapture on the user's own computer. One ES module, no dependencies.
 *
 *   import { capture, CaptureError } from './qvlcapture.js';
 *   const enrolled = await capture({ mode: 'enroll', token: 'A17' });
 *   const checked = await capture({ mode: 'verify', template: enrolled.template.slice(0, 256) });
 *
 * Two channels reach qvlbridge: the package's browser extension, where the administrator has
 * installed it (the browser starts qvlbridge itself and vouches for this page's origin), and
 * otherwise the local HTTP service. Once the extension is there, the port is never used.
 *
 * Never take an answer from the page for an access decision: the portal's server must check it.
 * @module qvlcapture
 */

/** Where qvlbridge listens unless its administrator chose another port. */
export const DEFAULT_BRIDGE = 'http://127.0.0.1:29180';

// What the client itself says of each refusal, in the page's language (its <html lang>, else the
// browser's): Russian or English. The service's own `error` is English, for its log.
const REFUSALS = {
  busy: ['Сканер занят: идёт другое снятие отпечатка.',
         'The scanner is busy: another capture is running.'],
  origin_not_allowed: ['Этого сайта нет в списке allowed_origins службы qvlbridge.',
                       'This site is not in qvlbridge\'s allowed_origins.'],
  unreachable: ['Служба qvlbridge недоступна: она не запущена на этом компьютере или работает под '
                + 'другой учётной записью. Обратитесь к администратору.',
                'qvlbridge cannot be reached: it does not run on this computer, or runs under '
                + 'another account. Ask the administrator.'],
  400: ['Служба qvlbridge отклонила запрос: неверные данные.',
        'qvlbridge refused the request: invalid data.'],
  403: ['Служба qvlbridge отклонила запрос. Обратитесь к администратору.',
        'qvlbridge refused the request. Ask the administrator.'],
  413: ['База отпечатков слишком велика для службы qvlbridge.',
        'The database is too large for qvlbridge.'],
  other: ['Служба qvlbridge отклонила запрос.', 'qvlbridge refused the request.'],
};

/** The language the client speaks: the page's, else the browser's. @returns {'ru'|'en'} */
export function language() {
  const tag = document.documentElement.lang || navigator.language || 'en';
  return tag.toLowerCase().startsWith('ru') ? 'ru' : 'en';
}

function refusal(key) {
  const [ru, en] = REFUSALS[key] || REFUSALS.other;
  return language() === 'ru' ? ru : en;
}

/**
 * A capture that gave no answer. `ending` says how: one of qvlbridge's endings (timed_out,
 * window_closed, not_a_print, busy, library_crashed, library_hung, error), or `rejected` (the
 * bridge refused the request: `status` is the HTTP status), `origin_not_allowed` (the bridge runs,
 * but this page's origin is not in its allowed_origins) or `unreachable` (no bridge answered).
 * A second capture while one runs is `busy` on both channels. `message` is the program's own
 * words for its endings, and the client's, in the page's language, for every refusal; `detail`
 * is the service's or the browser's own text, for a log.
 */
export class CaptureError extends Error {
  /**
   * @param {string} message the program's or the bridge's text, in the user's language
   * @param {string} ending
   * @param {object|null} answer the bridge's whole answer, where there was one
   * @param {number} [status] the HTTP status of a rejected request
   */
  constructor(message, ending, answer = null, status = 0, detail = '') {
    super(message || ending);
    this.name = 'CaptureError';
    this.ending = ending;
    this.answer = answer;
    this.status = status;
    this.detail = detail;
  }
}

// A refusal of the service's, by its HTTP status: 409 is another capture running, `busy`, as
// the program's own refusal through the extension is.
function refused(status, reply) {
  if (reply.error === 'origin_not_allowed') {
    return new CaptureError(refusal('origin_not_allowed'), 'origin_not_allowed', reply, status, reply.error);
  }
  if (status === 409) return new CaptureError(refusal('busy'), 'busy', reply, status, reply.error);
  return new CaptureError(refusal(status), 'rejected', reply, status, reply.error);
}

/** @param {Uint8Array} bytes @returns {string} */
export function toBase64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(text);
}

/** @param {string} text @returns {Uint8Array} */
export function fromBase64(text) {
  return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
}

/** Whether the package's extension serves this page: it says so before the page's scripts run. */
export function extensionPresent() {
  return document.documentElement.dataset.qvlcaptureExtension === '1';
}

let requests = 0;

// One request through the extension's content script: {status, body} as the HTTP service would
// answer, status 0 when the extension could not reach qvlbridge.
function throughExtension(path, body, signal) {
  const id = `${Date.now()}-${requests++}`;
  return new Promise((resolve) => {
    const cancel = () => window.postMessage({ qvlcapture: 'cancel', id }, window.location.origin);
    const listen = (event) => {
      const message = event.data;
      if (event.source !== window || message?.qvlcapture !== 'answer' || message.id !== id) return;
      window.removeEventListener('message', listen);
      signal?.removeEventListener('abort', cancel);
      resolve(message);
    };
    window.addEventListener('message', listen);
    signal?.addEventListener('abort', cancel, { once: true });
    window.postMessage({ qvlcapture: 'request', id, path, body }, window.location.origin);
  });
}

async function askExtension(path, body, signal) {
  const answer = await throughExtension(path, body, signal);
  const reply = answer.body || {};
  if (answer.status === 0) {
    throw new CaptureError(refusal('unreachable'), 'unreachable', null, 0,
                           `qvlbridge does not answer the extension (${reply.error})`);
  }
  if (answer.status < 200 || answer.status > 299) throw refused(answer.status, reply);
  return reply;
}

async function ask(bridge, path, init) {
  let response;
  try {
    response = await fetch(bridge + path, init);
  } catch (failure) {
    if (init.signal?.aborted) throw new CaptureError('', 'window_closed');
    // A refused origin reads nothing of a capture; the status alone says why, to any page.
    const status = await fetch(bridge + '/v1/status').then((r) => r.json()).catch(() => ({}));
    if (status.error === 'origin_not_allowed') throw refused(403, status);
    throw new CaptureError(refusal('unreachable'), 'unreachable', null, 0,
                           `qvlbridge does not answer at ${bridge} (${failure.message})`);
  }
  const body = await response.json().catch(() => ({}));
  if (!response.ok) throw refused(response.status, body);
  return body;
}

/**
 * Whether the bridge runs, whether it finds the scanner library, whether a capture runs, and
 * which channel answers: `extension` or `http`.
 * @param {string} [bridge] the HTTP service's address (the extension needs none)
 * @returns {Promise<{version: string, library_found: boolean, capture_running: boolean,
 *   channel: string}>}
 */
export async function status(bridge = DEFAULT_BRIDGE) {
  if (extensionPresent()) return { ...(await askExtension('/v1/status', {})), channel: 'extension' };
  return { ...(await ask(bridge, '/v1/status', { method: 'GET' })), channel: 'http' };
}

/**
 * Takes one print: the person at the scanner sees qvlcapture's window meanwhile.
 * @param {object} options
 * @param {'enroll'|'verify'|'identify'|'verimatch'} options.mode
 * @param {Uint8Array} [options.template] verify: the stored template, 256 bytes
 * @param {Uint8Array} [options.database] identify, verimatch: whole 256-byte records
 * @param {number} [options.level] the match level (3 unless given)
 * @param {number} [options.timeout] seconds to wait for a finger, 0 to 600 (120 unless given)
 * @param {string} [options.token] any text of up to 64 characters, answered back as sent
 * @param {string} [options.bridge] the HTTP service's address, DEFAULT_BRIDGE unless given (the
 *   extension, where it is present, needs none)
 * @param {AbortSignal} [options.signal] aborting it ends the capture as if its window were
 *   closed: the promise then rejects with the ending `window_closed`. A page that goes (closed,
 *   reloaded, or left for another in the same tab, even one the browser keeps in its
 *   back-forward cache) ends its capture the same way.
 * @returns {Promise<{ending: string, status: number, answer: string, matches: number[],
 *   token: string, template: Uint8Array, picture: Blob|null, message: string}>} for the endings
 *   `answered` and `picture_not_replaced` (the picture is then missing); `template` is the 257
 *   bytes of feature.txt, of which the first 256 are the record to store
 * @throws {CaptureError} for every other ending
 */
export async function capture(options) {
  const { bridge = DEFAULT_BRIDGE, template, database, signal, ...rest } = options;
  signal?.throwIfAborted();
  const request = { ...rest };
  if (template) request.template = toBase64(template);
  if (database) request.database = toBase64(database);
  // The caller's abort, or the page going: a page kept in the back-forward cache is not closed,
  // and its capture would hold the scanner until the browser drops it.
  const ended = new AbortController();
  let leaving = false;  // nobody will read the answer
  const end = () => ended.abort(signal?.reason);
  const leave = () => { leaving = true; end(); };
  signal?.addEventListener('abort', end, { once: true });
  window.addEventListener('pagehide', leave, { once: true });
  let answer;
  try {
    if (extensionPresent()) {
      // Aborting sends the extension a cancel: the run's window closes, and the answer says so.
      answer = await askExtension('/v1/capture', request, ended.signal);
    } else {
      // On abort the bridge closes the run's window, and the capture answers window_closed;
      // should the cancel not get through, dropping the connection ends the run all the same. A
      // keepalive request outlives the page that sent it.
      const dropped = new AbortController();
      ended.signal.addEventListener('abort', () => {
        fetch(bridge + '/v1/cancel', { method: 'POST', keepalive: true })
          .catch(() => dropped.abort(ended.signal.reason));
        setTimeout(() => dropped.abort(ended.signal.reason), leaving ? 0 : 5000);
      }, { once: true });
      answer = await ask(bridge, '/v1/capture', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(request),
        signal: dropped.signal,
      });
    }
  } finally {
    signal?.removeEventListener('abort', end);
    window.removeEventListener('pagehide', leave);
  }
  if (answer.ending !== 'answered' && answer.ending !== 'picture_not_replaced') {
    throw new CaptureError(answer.message, answer.ending, answer);
  }
  return {
    ...answer,
    template: fromBase64(answer.template || ''),
    picture: answer.picture ? new Blob([fromBase64(answer.picture)], { type: 'image/bmp' }) : null,
  };
}
