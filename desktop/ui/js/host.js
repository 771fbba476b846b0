// What the host tells the page of itself.

const program = { version: '1.0.0' };

hub.on('hostInfo', (p) => {
  if (!p) return;
  if (p.version) program.version = String(p.version);
  if (p.apiBase) service.apiBase = String(p.apiBase);
  $('versionLabel').textContent = 'v' + program.version;
  logEvent('Host 已连接');
});

hub.on('runtimeUpdated', () => {
  logEvent('浏览器运行时已更新，重新启动 OVRA-Zirer 后生效');
});

hub.on('hostReady', (p) => {
  if (p && p.version) {
    program.version = String(p.version);
    $('versionLabel').textContent = 'v' + program.version;
  }
});
