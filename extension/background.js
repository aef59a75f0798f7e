// Sends each page's request to qvlbridge, started by the browser as the extension's
// native-messaging host: in the user's own session, under the user's account, with no port to
// squat. The origin the host gets is the one the browser reports for the page.
const HOST = 'ru.qvlcapture.bridge';

chrome.runtime.onConnect.addListener((page) => {
  if (page.name !== 'qvlcapture') return;
  const origin = page.sender.origin;
  let host = null;
  let answered = false;
  page.onMessage.addListener((message) => {
    if (message.type === 'cancel') {
      host?.postMessage({ type: 'cancel' });
      return;
    }
    if (message.type !== 'request' || host) return;
    host = chrome.runtime.connectNative(HOST);
    host.onMessage.addListener((answer) => {
      answered = true;
      page.postMessage(answer);
    });
    host.onDisconnect.addListener(() => {
      if (answered) return;
      const why = chrome.runtime.lastError?.message || 'qvlbridge ended';
      try {
        page.postMessage({ status: 0, body: { error: why } });
      } catch {}  // the page has gone
    });
    host.postMessage({ type: 'request', origin, path: message.path, body: message.body });
  });
  // The page went (a closed tab): the host's input closes, and its capture ends as a closed
  // window.
  page.onDisconnect.addListener(() => host?.disconnect());
});
