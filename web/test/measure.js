// Figures for the web build: render speed in Chromium and under Node against
// the native tool, and the page's memory with a ten-minute song.
//
//   node web/test/measure.js [BUILD_WEB [TOOL]]     (make measure-web)
//
// Speed: the real logs rendered whole at 55467:FM and 44,100 Hz, by
// window.tamboril.render in the page (its worker included) and by the tool
// (one process for all songs), seconds of music per second of wall time.
// Memory: the resident memory of Chromium's processes for the page (RSS from
// /proc) and the page's JavaScript heap, with nothing loaded, while a
// ten-minute song plays, and after it was saved as WAV.
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const {chromium} = require('playwright-core');

const root = path.resolve(__dirname, '..', '..');
const webDir = path.resolve(process.argv[2] || path.join(root, 'build', 'web'));
const tool = path.resolve(process.argv[3] || path.join(root, 'build', 'native', 'tamboril'));
const shared = process.env.TAMBORIL_SHARED_DIR || path.resolve(root, '..', 'shared');
const realDir = path.join(shared, 'corpus', 'real');

// Resident memory of the browser's processes, by kind, in MB.
function ProcessMemory(browserPid) {
    const parents = new Map();
    const kinds = new Map();
    for (const pid of fs.readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
        try {
            const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
            parents.set(Number(pid), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
            const type = /--type=([a-z-]+)/.exec(fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8'));
            const utility = /--utility-sub-type=([A-Za-z.]+)/.exec(fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8'));
            kinds.set(Number(pid), type ? type[1] + (utility ? ':' + utility[1].split('.').pop() : '') : 'browser');
        } catch (e) { /* gone meanwhile */ }
    }
    const within = (pid) => { for (let p = pid; p > 1; p = parents.get(p)) if (p === browserPid) return true; return false; };
    const totals = {};
    for (const [pid, kind] of kinds) {
        if (!within(pid)) continue;
        const rss = /VmRSS:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
        if (!rss) continue;
        totals[kind] = totals[kind] || {mb: 0, count: 0};
        totals[kind].mb += Number(rss[1]) / 1024;
        totals[kind].count += 1;
    }
    return totals;
}

function Show(label, memory, heapMb) {
    const parts = Object.entries(memory).map(([k, v]) => `${k} ${v.mb.toFixed(0)}` +
                                             (v.count > 1 ? ` (${v.count} processes)` : '')).join(', ');
    console.log(`  ${label}: JS heap ${heapMb.toFixed(1)} MB; resident MB by process: ${parts}`);
}

(async () => {
    const songs = fs.readdirSync(realDir).filter((n) => n.endsWith('.gym')).map((n) => path.join(realDir, n));
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tamboril-measure-'));
    const Launch = () => chromium.launchPersistentContext(fs.mkdtempSync(path.join(profile, 'profile-')), {
        executablePath: '/usr/bin/chromium', headless: true, acceptDownloads: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required',
               '--enable-precise-memory-info'],
    });
    // The browser process: the oldest whose command line names the profile.
    const BrowserPid = () => Number(childProcess.execSync(
        `pgrep -f -o -- '--user-data-dir=${profile}/profile-'`).toString().trim());
    let context = await Launch();
    const page = await context.newPage();
    await page.goto('file://' + path.join(webDir, 'index.html'));
    await page.evaluate(() => window.tamboril.ready.then(() => true));

    console.log('Render speed (seconds of music per second), the seven real logs whole:');
    for (const frequency of ['55467:FM', '44100']) {
        let musicSeconds = 0;
        let pageSeconds = 0;
        for (const song of songs) {
            const b64 = fs.readFileSync(song).toString('base64');
            const result = await page.evaluate(async ({b64, name, frequency}) => {
                const bytes = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
                await tamboril.render(name, bytes, {frequency, loopCount: 0, fadeoutMs: 0});  // warm
                const began = performance.now();
                const samples = await tamboril.render(name, bytes, {frequency});
                return {seconds: (performance.now() - began) / 1000, frames: samples.length / 2};
            }, {b64, name: path.basename(song), frequency});
            musicSeconds += result.frames / 44100;
            pageSeconds += result.seconds;
        }
        const began = process.hrtime.bigint();
        for (let i = 0; i < 3; ++i) {
            childProcess.execFileSync(tool, ['render', ...songs, '--checksum', '-q', '--frequency', frequency]);
        }
        const nativeSeconds = Number(process.hrtime.bigint() - began) / 3e9;
        console.log(`  ${frequency}: page ${(musicSeconds / pageSeconds).toFixed(0)}x, native ` +
                    `${(musicSeconds / nativeSeconds).toFixed(0)}x: the page at ` +
                    `${(100 * nativeSeconds / pageSeconds).toFixed(0)}% of native speed ` +
                    `(${musicSeconds.toFixed(0)} s of music)`);
    }
    await context.close();

    // A ten-minute song: the body of a real log over and over, as a plain log.
    const body = fs.readFileSync(path.join(realDir, 'batman_music02.gym')).subarray(428);
    const repeats = Math.ceil(600 / 64.8);
    const tenMinutes = path.join(profile, 'ten_minutes.gym');
    fs.writeFileSync(tenMinutes, Buffer.concat(Array(repeats).fill(body)));

    const heap = async (p) => p.evaluate(() => performance.memory.usedJSHeapSize / 1048576);
    context = await Launch();
    const browserPid = BrowserPid();
    const fresh = context.pages()[0] || await context.newPage();
    await fresh.goto('file://' + path.join(webDir, 'index.html'));
    await fresh.evaluate(() => window.tamboril.ready.then(() => true));
    await new Promise((r) => setTimeout(r, 1000));
    console.log(`Memory with a ten-minute song (${repeats} x Batman's 64.8 s, ${fs.statSync(tenMinutes).size} bytes):`);
    Show('page loaded, nothing open', ProcessMemory(browserPid), await heap(fresh));
    await fresh.setInputFiles('#file', [tenMinutes]);
    await fresh.click('#play');
    await new Promise((r) => setTimeout(r, 5000));
    Show('playing for 5 s', ProcessMemory(browserPid), await heap(fresh));
    await fresh.$eval('#seek', (bar) => { bar.value = 590000; bar.dispatchEvent(new Event('change')); });
    await new Promise((r) => setTimeout(r, 3000));
    Show('playing at 9:50', ProcessMemory(browserPid), await heap(fresh));
    const began = Date.now();
    const [download] = await Promise.all([fresh.waitForEvent('download', {timeout: 600000}), fresh.click('#save')]);
    const wavBytes = fs.statSync(await download.path()).size;
    console.log(`  Save as WAV: ${(wavBytes / 1048576).toFixed(0)} MB in ${((Date.now() - began) / 1000).toFixed(1)} s`);
    Show('after the WAV was saved', ProcessMemory(browserPid), await heap(fresh));
    await context.close();
    fs.rmSync(profile, {recursive: true, force: true});
})();
