// Runs one test case as soon as the browser installs the extension. The test writes
// plan.js beside this file: `const PLAN = {case: "...", ...}`.
importScripts("plan.js");

const HOST = "com.zorvia.host";
const REPORTER = "com.zorvia.test_reporter";

// Results leave the browser through a second native host that appends each message to a file.
const reporter = chrome.runtime.connectNative(REPORTER);
const report = (message) => reporter.postMessage(Object.assign({case: PLAN.case, at: Date.now()}, message));

const cyrillic = {text: "Зорвия: \"кавычки\", \\ обратная черта, \t табуляция, \u001f, / и 😀", n: -1.5};
const big = {big: "x".repeat(PLAN.bigLength || 0)};

function run() {
  const port = chrome.runtime.connectNative(HOST);
  const connectedAt = Date.now();
  const received = [];
  let finished = false;
  const finish = (how) => {
    if (finished) return;
    finished = true;
    report({done: true, how, received, connectedAt});
  };

  port.onDisconnect.addListener(() => {
    const error = chrome.runtime.lastError ? chrome.runtime.lastError.message : "";
    report({disconnected: true, error, count: received.length});
    finish("host disconnected");
  });

  if (PLAN.case === "round_trip") {
    const sent = [{hello: "world"}, cyrillic, big];
    port.onMessage.addListener((m) => {
      received.push(JSON.stringify(m).length > 1000 ? {bigLength: m.big.length} : m);
      const i = received.length - 1;
      report({echo: i, same: JSON.stringify(m) === JSON.stringify(sent[i])});
      if (received.length === sent.length) finish("all echoed");
    });
    for (const m of sent) port.postMessage(m);
  } else if (PLAN.case === "extension_disconnects") {
    port.onMessage.addListener((m) => {
      received.push(m);
      port.disconnect();
      report({disconnectedByUs: true});
      finish("we disconnected");
    });
    port.postMessage({ping: 1});
  } else {
    // "no_application" and "application_closes": only listen.
    port.onMessage.addListener((m) => received.push(m));
  }
}

run();
