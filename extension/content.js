// Relays a page's requests to the extension's service worker and its answers back. The page
// learns at once, before its own scripts run, that the extension is there: qvlcapture.js then
// never calls the local port, where another program could listen. Which pages may take a print
// is qvlbridge's decision, from the origin the browser reports, never from what the page says.
document.documentElement.dataset.qvlcaptureExtension = '1';

const ports = new Map();  // the page's request id -> its port to the service worker

window.addEventListener('message', (event) => {
  const message = event.data;
  if (event.source !== window || !message || typeof message.qvlcapture !== 'string') return;
  if (message.qvlcapture === 'cancel') {
    ports.get(message.id)?.postMessage({ type: 'cancel' });
    return;
  }
  if (message.qvlcapture !== 'request') return;
  const port = chrome.runtime.connect({ name: 'qvlcapture' });
  ports.set(message.id, port);
  const answer = (reply) => {
    ports.delete(message.id);
    window.postMessage({ qvlcapture: 'answer', id: message.id, ...reply }, window.location.origin);
  };
  port.onMessage.addListener((reply) => {
    answer(reply);
    port.disconnect();
  });
  port.onDisconnect.addListener(() => {
    if (ports.has(message.id)) answer({ status: 0, body: { error: 'the extension stopped' } });
  });
  port.postMessage({ type: 'request', path: message.path, body: message.body });
});
