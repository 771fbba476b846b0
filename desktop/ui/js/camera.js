// The camera: the video tile and its frame rate.

const camera = {
  on: false,
  stream: null,
  pending: false,
  fpsRaf: 0,
};

// While a camera or microphone request is open, further clicks on its
// button are ignored: a second request would open a capture that the
// page could lose track of.
async function toggleCam() {
  if (camera.pending) return;
  const video = $('localVideo');
  const btn = $('btnCam');
  if (camera.on) {
    stopTracks(camera.stream);
    if (video.srcObject !== camera.stream) stopTracks(video.srcObject);
    video.srcObject = null;
    camera.stream = null;
    camera.on = false;
    btn.classList.remove('active');
    btn.textContent = '📷 开启视频';
    setPill('videoPill', 'warn', '视频关闭');
    return;
  }
  camera.pending = true;
  let stream = null;
  try {
    stream = await navigator.mediaDevices.getUserMedia({
      video: { width: { ideal: 1280 }, height: { ideal: 720 }, frameRate: { ideal: 30 } },
      audio: false,
    });
    camera.stream = stream;
    video.srcObject = stream;
    camera.on = true;
    btn.classList.add('active');
    btn.textContent = '📷 关闭视频';
    setPill('videoPill', 'ok', '视频就绪');
    logEvent('视频通道已开启');
    startFps();
  } catch (err) {
    // What was granted before the failure is not left running.
    stopTracks(stream);
    camera.stream = null;
    video.srcObject = null;
    camera.on = false;
    setPill('videoPill', 'bad', '视频不可用');
    toast('无法开启摄像头：' + messageOf(err, String(err)), 'bad');
  } finally {
    camera.pending = false;
  }
}

function startFps() {
  cancelAnimationFrame(camera.fpsRaf);
  let frames = 0;
  let last = performance.now();
  const tick = (now) => {
    camera.fpsRaf = requestAnimationFrame(tick);
    frames++;
    if (now - last >= 1000) {
      showMetric('fpsLabel', frames + ' fps');
      frames = 0;
      last = now;
    }
  };
  camera.fpsRaf = requestAnimationFrame(tick);
}
