// The update pill and dialog: what the host says of updates, and the modal
// dialog that offers one and shows its progress.

const OTA_CHECK_DELAY_MS = 15000;

const update = {
  ota: null, // the host's last word on updates
  dialogReturn: null, // where focus goes back to when the update dialog closes
};

// The update dialog is modal: the page behind it goes inert, focus moves
// into it and stays there, and comes back to where it was on closing.
function setBehindDialog(inert) {
  document.querySelector('.titlebar').inert = inert;
  document.querySelector('.stage').inert = inert;
}

function showOtaDialog() {
  const modal = $('otaModal');
  if (!modal.hidden) return;
  update.dialogReturn = document.activeElement;
  modal.hidden = false;
  setBehindDialog(true);
  // The harmless choice first: a stray Enter must not start an update.
  $('btnOtaLater').focus();
}

function hideOtaDialog() {
  const modal = $('otaModal');
  if (modal.hidden) return;
  modal.hidden = true;
  setBehindDialog(false);
  const back = update.dialogReturn;
  update.dialogReturn = null;
  if (back && back.isConnected && back !== document.body) back.focus();
  else $('input').focus();
}

// Tab and Shift+Tab go round the dialog's buttons; past the last one the
// browser would hand focus to the host window.
function keepFocusInDialog(e) {
  const buttons = Array.from($('otaModal').querySelectorAll('button:not(:disabled)'));
  if (!buttons.length) return;
  const first = buttons[0];
  const last = buttons[buttons.length - 1];
  const at = buttons.indexOf(document.activeElement);
  if (at < 0 || (e.shiftKey && at === 0) || (!e.shiftKey && at === buttons.length - 1)) {
    e.preventDefault();
    (e.shiftKey ? last : first).focus();
  }
}

// Esc closes the update dialog as "稍后" does; otherwise it stops speech
// and the answer under way.
function onPageKey(e) {
  if ($('otaModal').hidden) {
    if (e.key === 'Escape') stopAll();
  } else if (e.key === 'Escape') {
    e.preventDefault();
    onOtaLater();
  } else if (e.key === 'Tab') {
    keepFocusInDialog(e);
  }
}

// An offer without its version still reads as a sentence.
function offeredVersion(ota) {
  return ota.version != null && ota.version !== '' ? String(ota.version) : '新版本';
}

hub.on('otaStatus', (p) => {
  update.ota = p;
  let dismissed = '';
  try {
    dismissed = localStorage.getItem('otaDismissed') || '';
  } catch {
    // no storage for this page: nothing was dismissed
  }
  if (p && p.available === true && window.__host) {
    if (p.force === true) {
      setPill('otaPill', 'warn', '请升级 ' + offeredVersion(p));
      showOtaDialog();
      $('otaNotes').textContent = p.notes || '可升级到 ' + offeredVersion(p);
    } else if (dismissed !== String(p.version)) {
      setPill('otaPill', 'warn', '可升级 ' + offeredVersion(p));
    } else {
      setPill('otaPill', 'ok', '系统最新');
    }
  } else if (p && p.error) {
    // The host refused what the update server offered (an unsigned or forged manifest).
    setPill('otaPill', 'bad', '更新被拒绝');
    logEvent('OTA ' + p.error);
  } else {
    setPill('otaPill', 'ok', '系统最新');
  }
});

hub.on('ota', (p) => {
  if (!p) return;
  if (p.stage === 'download') {
    const pct = Number(p.pct) || 0;
    showOtaDialog();
    $('otaProgress').style.width = Math.max(0, Math.min(100, pct)) + '%';
    $('otaNotes').textContent = '正在下载升级包 ' + pct + '%';
  } else if (p.stage === 'verify') {
    $('otaNotes').textContent = '校验完整性…';
  } else if (p.stage === 'apply') {
    $('otaNotes').textContent = '正在应用升级并重启…';
  } else if (p.stage === 'error') {
    // The toast goes after a few seconds; the event list keeps what happened.
    const text = '升级失败: ' + messageOf(p.message, '未知错误');
    toast(text, 'bad');
    logEvent(text);
  }
});

function onOtaPill() {
  const ota = update.ota;
  if (!(ota && ota.available)) {
    post({ cmd: 'checkOta' });
    return;
  }
  // Opening the dialog fresh shows what the update brings; while an update
  // runs, the dialog keeps its progress text.
  if ($('otaModal').hidden) $('otaNotes').textContent = ota.notes || '可升级到 ' + offeredVersion(ota);
  showOtaDialog();
}

function onOtaLater() {
  hideOtaDialog();
  if (update.ota && update.ota.version) {
    try {
      localStorage.setItem('otaDismissed', String(update.ota.version));
    } catch {
      // no storage for this page: the offer shows again next time
    }
  }
}
