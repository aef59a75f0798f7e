/**
 * qvlcapture.js: takes a fingerprint from a web page through qvlbridge, the local service that
 * runs beside qvlcapture on the user's own computer. One ES module, no dependencies.
 *
 *   import { capture, CaptureError } from './qvlcapture.js';
 *   const enrolled = await capture({ mode: 'enroll', token: 'A17' });
 *   const checked = await capture({ mode: 'verify', template: enrolled.template.slice(0, 256) });
 *
 * Never take an answer from the page for an access decision: the portal's server must check it.
 * @module qvlcapture
 */

/** Where qvlbridge listens unless its administrator chose another port. */
export const DEFAULT_BRIDGE = 'http://127.0.0.1:52180';

/**
 * A capture that gave no answer. `ending` says how: one of qvlbridge's endings (timed_out,
 * window_closed, not_a_print, busy, library_crashed, library_hung, error), or `rejected` (the
 * bridge refused the request: `status` is the HTTP status) or `unreachable` (no bridge answered,
 * or it does not allow this page's origin).
 */
export class CaptureError extends Error {
  /**
   * @param {string} message the program's or the bridge's text, in the user's language
   * @param {string} ending
   * @param {object|null} answer the bridge's whole answer, where there was one
   * @param {number} [status] the HTTP status of a rejected request
   */
  constructor(message, ending, answer = null, status = 0) {
    super(message || ending);
    this.name = 'CaptureError';
    this.ending = ending;
    this.answer = answer;
    this.status = status;
  }
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

async function ask(bridge, path, init) {
  let response;
  try {
    response = await fetch(bridge + path, init);
  } catch (failure) {
    throw new CaptureError(`qvlbridge does not answer at ${bridge} (${failure.message})`, 'unreachable');
  }
  const body = await response.json().catch(() => ({}));
  if (!response.ok) throw new CaptureError(body.error, 'rejected', body, response.status);
  return body;
}

/**
 * Whether the bridge runs, whether it finds the scanner library, and whether a capture runs.
 * @param {string} [bridge]
 * @returns {Promise<{version: string, library_found: boolean, capture_running: boolean}>}
 */
export function status(bridge = DEFAULT_BRIDGE) {
  return ask(bridge, '/v1/status', { method: 'GET' });
}

/**
 * Takes one print: the person at the scanner sees qvlcapture's window meanwhile.
 * @param {object} options
 * @param {'enroll'|'verify'|'identify'|'verimatch'} options.mode
 * @param {Uint8Array} [options.template] verify: the stored template, 256 bytes
 * @param {Uint8Array} [options.database] identify, verimatch: whole 256-byte records
 * @param {number} [options.level] the match level (3 unless given)
 * @param {number} [options.timeout] seconds to wait for a finger, 0 to 600 (120 unless given)
 * @param {string} [options.token] up to 64 letters, digits and - _ . :
 * @param {string} [options.bridge] qvlbridge's address, DEFAULT_BRIDGE unless given
 * @returns {Promise<{ending: string, status: number, answer: string, matches: number[],
 *   token: string, template: Uint8Array, picture: Blob|null, message: string}>} for the endings
 *   `answered` and `picture_not_replaced` (the picture is then missing); `template` is the 257
 *   bytes of feature.txt, of which the first 256 are the record to store
 * @throws {CaptureError} for every other ending
 */
export async function capture(options) {
  const { bridge = DEFAULT_BRIDGE, template, database, ...rest } = options;
  const request = { ...rest };
  if (template) request.template = toBase64(template);
  if (database) request.database = toBase64(database);
  const answer = await ask(bridge, '/v1/capture', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(request),
  });
  if (answer.ending !== 'answered' && answer.ending !== 'picture_not_replaced') {
    throw new CaptureError(answer.message, answer.ending, answer);
  }
  return {
    ...answer,
    template: fromBase64(answer.template || ''),
    picture: answer.picture ? new Blob([fromBase64(answer.picture)], { type: 'image/bmp' }) : null,
  };
}
