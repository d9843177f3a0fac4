// The web build checked against the native tool: the engine under Node, then
// window.tamboril and the page in headless Chromium.
//
//   node [--no-experimental-fetch] web-tests.js node|browser BUILD_WEB TOOL RESULTS
//   node web-tests.js summary RESULTS
//
// The engine's part runs under Node as the engine's Node users run it, with
// Node's fetch off; the browser driver needs that fetch, so the browser's part
// is a second run. Each part appends its results to RESULTS, one JSON line a
// test; the summary prints them in the words ctest uses.
//
// Every song of the shared songs folder (outside bad/), the real logs and the
// demo archive must render to exactly the tool's samples at 44,100 Hz and at
// "55467:FM"; info must read as `tamboril info` reads; options behave as the
// tool's. The shared songs live beside the checkout (TAMBORIL_SHARED_DIR or
// ../shared); without them those tests skip with a word, as the other tests
// do. WEB_TESTS picks tests by a regular expression on their names.
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const vm = require('vm');

const part = process.argv[2];
const [webDir, tool, resultsFile] = part === 'summary' ? [null, null, process.argv[3]] :
    process.argv.slice(3, 6).map((p) => path.resolve(p));
const root = path.resolve(__dirname, '..', '..');
const shared = process.env.TAMBORIL_SHARED_DIR || path.resolve(root, '..', 'shared');
const only = process.env.WEB_TESTS ? new RegExp(process.env.WEB_TESTS) : null;
const kChromium = process.env.CHROMIUM || '/usr/bin/chromium';
const kChromiumFlags = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--autoplay-policy=no-user-gesture-required'];

// ---- the songs -------------------------------------------------------------

function Listing(dir) {
    return fs.existsSync(dir) ? fs.readdirSync(dir).sort().filter((n) => fs.statSync(path.join(dir, n)).isFile()) : [];
}

const songsDir = path.join(shared, 'songs');
const haveShared = fs.existsSync(songsDir);
const isInfo = (name) => /\.gyi$/i.test(name);
// {key, file, folder}: key is what the server and the tests call the song.
const goodSongs = [];
const badSongs = [];
const companionsOf = new Map();  // folder -> [{name, file}]
function AddFolder(dir, list, key) {
    const names = Listing(dir);
    companionsOf.set(dir, names.filter(isInfo).map((n) => ({name: n, file: path.join(dir, n)})));
    names.filter((n) => !isInfo(n) && !/\.(tsv|md)$/i.test(n))
        .forEach((n) => list.push({key: key + '/' + n, name: n, file: path.join(dir, n), folder: dir}));
}
if (haveShared) {
    AddFolder(songsDir, goodSongs, 'songs');
    AddFolder(path.join(shared, 'corpus', 'real'), goodSongs, 'real');
    AddFolder(path.join(shared, 'corpus', 'vgm'), goodSongs, 'vgm');
    AddFolder(path.join(songsDir, 'bad'), badSongs, 'bad');
}
// The demo archive is ours and always there.
const demo = {key: 'examples/demo.gym.zip', name: 'demo.gym.zip', file: path.join(root, 'examples', 'demo.gym.zip'),
              folder: path.join(root, 'examples')};
companionsOf.set(demo.folder, []);
goodSongs.push(demo);
const songByKey = new Map([...goodSongs, ...badSongs].map((s) => [s.key, s]));

// ---- the native tool --------------------------------------------------------

// Tool arguments for render options as window.tamboril takes them.
function ToolArguments(options) {
    const flags = {frequency: '--frequency', loopCount: '--loops', fadeoutMs: '--fade', volumeFm: '--volume-fm',
                   volumePsg: '--volume-ssg', volumePcm: '--volume-pcm', seekMs: '--seek',
                   blockFrames: '--block-frames', seekAfterFrames: '--seek-after'};
    const args = [];
    for (const [key, value] of Object.entries(options || {})) args.push(flags[key], String(value));
    return args;
}

// The tool's samples as raw little-endian bytes, or its exit status.
function NativeRender(file, options) {
    const run = childProcess.spawnSync(tool, ['render', file, '-q', '-o', '-', ...ToolArguments(options)],
                                       {maxBuffer: 1 << 30});
    return {status: run.status, bytes: run.stdout, stderr: String(run.stderr)};
}

// {title, lengthMs, loopFrame, form} as the tool reads the file, or null
// when it cannot open it.
function NativeInfo(file) {
    const tsv = childProcess.spawnSync(tool, ['info', '--tsv', file]);
    const fields = tsv.stdout.toString('latin1').replace(/\n$/, '').split('\t');
    if (tsv.status !== 0) return null;
    const text = childProcess.spawnSync(tool, ['info', file]).stdout.toString('latin1');
    return {title: fields[1], lengthMs: Number(fields[2]), loopFrame: Number(fields[3]),
            form: /^ {2}form {4}(.*)$/m.exec(text)[1]};
}

// The tool's reading of a title shows tabs, CRs and LFs as blanks.
const OneLine = (text) => text.replace(/[\t\r\n]/g, ' ');

const kToolFields = ['title', 'lengthMs', 'loopFrame', 'form'];

// ---- a tiny test runner ------------------------------------------------------

class Skip extends Error {}
const results = [];

async function Test(name, body) {
    if (only && !only.test(name)) return;
    const began = Date.now();
    const number = results.length + 1;
    let outcome = 'Passed';
    let detail = '';
    try {
        await body();
    } catch (error) {
        if (error instanceof Skip) {
            outcome = 'Skipped';
            detail = error.message;
        } else {
            outcome = 'Failed';
            detail = error && error.stack ? error.stack : String(error);
        }
    }
    results.push({number, name, outcome});
    fs.appendFileSync(resultsFile, JSON.stringify({name, outcome}) + '\n');
    const seconds = ((Date.now() - began) / 1000).toFixed(2);
    console.log(`${String(number).padStart(2)} Test #${number}: ${name} ${'.'.repeat(Math.max(3, 50 - name.length))} ` +
                `${outcome}  ${seconds} sec`);
    if (detail) console.log(detail.split('\n').map((l) => '    ' + l).join('\n'));
}

function NeedShared() {
    if (!haveShared) throw new Skip('Skipped: needs the shared test songs in ' + shared);
}

function Check(condition, message) {
    if (!condition) throw new Error(message);
}

// Where two sample streams (raw little-endian bytes) first differ, as text;
// null when they are the same.
function Difference(expected, actual) {
    if (expected.length === actual.length && expected.equals(actual)) return null;
    const n = Math.min(expected.length, actual.length);
    let i = 0;
    while (i < n && expected[i] === actual[i]) ++i;
    return `${actual.length / 4} frames against the tool's ${expected.length / 4}, first difference at frame ${i >> 2}`;
}

const AsBuffer = (samples) => Buffer.from(samples.buffer, samples.byteOffset, samples.byteLength);

// Songs and options for the option checks: seek, loop count, levels, fade,
// block size and the other rates.
const optionCaseTable = [
    {song: 'real/batman_music02.gym', options: {seekMs: 20000}},
    {song: 'real/sforce2_027_goddess_mitula.gym', options: {seekMs: 30000, seekAfterFrames: 44100, frequency: '44100'}},
    {song: 'songs/probe_loop_frame_1.gym', options: {loopCount: 5, fadeoutMs: 1200}},
    {song: 'songs/probe_gymx_loop100_gyi60.gym', options: {loopCount: 1, fadeoutMs: 0}},
    {song: 'songs/probe_mix_everything_full_volume.gym', options: {volumeFm: 12, volumePsg: -20, volumePcm: 40}},
    {song: 'songs/probe_dac_with_fm_channel6.gym', options: {volumeFm: 192, volumePcm: 6}},
    {song: 'songs/song_neon_harbor.dru', options: {volumePsg: 192, frequency: '48000', loopCount: 1}},
    {song: 'examples/demo.gym.zip', options: {frequency: '22050', blockFrames: 441}},
    {song: 'real/thunderforce4_stage4.gym', options: {frequency: '11025', volumeFm: 30}},
    {song: 'real/lionking_hakuna_matata.gym', options: {frequency: '24000', seekMs: 100000}},
];

// Options outside what the tool takes: window.tamboril refuses each with a
// RangeError exactly when the tool refuses it as bad usage (exit 2).
const limitCaseTable = [
    {loopCount: 255}, {loopCount: 256}, {loopCount: -1}, {fadeoutMs: 32767}, {fadeoutMs: 32768},
    {volumeFm: -20}, {volumeFm: -21}, {volumePsg: 192}, {volumePsg: 193}, {volumePcm: 500},
    {frequency: '55555'}, {frequency: 'FOO'}, {frequency: '32000'}, {frequency: 'AbC'}, {blockFrames: 441000},
    {blockFrames: 441001}, {loopCount: 1.5},
];

// What plays against what renders, and tags as the files hold them.
const playCaseTable = [
    {song: 'vgm/sonic2emerald.vgm', options: {loopCount: 1, fadeoutMs: 0}, tags: {trackJa: 'エメラルドヒル',
     gameJa: 'ソニック・ザ・ヘッジホッグ２', authorJa: '中村正人, 竹内出穂', date: '1992/11/21', dumper: '-DJSW-'}},
    {song: 'vgm/sonic2emerald.vgm', options: {loopCount: 3, fadeoutMs: 2500, frequency: '48000'}, tags: {}},
    {song: 'real/batman_music02.gym', options: {}, tags: {publisher: 'SUNSOFT (1990)', emulator: 'MEGASIS Ver. 0.04',
     dumper: 'Panca Loca', comment: 'Em homenagem ao meu amigo Emuguy', system: ''}},
];

// ---- the engine under Node ---------------------------------------------------

async function NodeEngine() {
    const create = require(path.join(webDir, 'engine.js'));
    const context = {};
    vm.runInNewContext(fs.readFileSync(path.join(webDir, 'glue.js'), 'utf8') + '\nthis.TamborilGlue = TamborilGlue;',
                       context);
    return context.TamborilGlue(await create());
}

// Renders every song in `songs` at `options` through `render(song,
// companions)` and compares with the tool; returns the list of failures.
async function Sweep(songs, options, render) {
    const failures = [];
    for (const song of songs) {
        const expected = NativeRender(song.file, options);
        let actual;
        try {
            actual = await render(song, options);
        } catch (error) {
            actual = error;
        }
        if (expected.status !== 0 || actual instanceof Error) {
            if (!(expected.status !== 0 && actual instanceof Error)) {
                failures.push(`${song.key}: tool exit ${expected.status}, page ${actual instanceof Error ? actual.message : 'rendered'}`);
            }
            continue;
        }
        const difference = Difference(expected.bytes, actual);
        if (difference) failures.push(`${song.key} ${JSON.stringify(options)}: ${difference}`);
    }
    return failures;
}

async function NodeTests() {
    let engine = null;
    await Test('WebNode.EngineStarts', async () => {
        engine = await NodeEngine();
        const info = engine.Info({name: demo.name, bytes: fs.readFileSync(demo.file)});
        Check(info.form === 'archive' && info.lengthMs > 0, 'the demo reads as ' + JSON.stringify(info));
        // The song file types and frequency names the engine gives are the
        // tool's.
        const types = engine.formats.flatMap((f) => [...f.extensions.map((e) => '.' + e), ...f.nameEndings]);
        const help = childProcess.spawnSync(tool, ['render', '--help']).stdout.toString();
        Check(help.includes('(' + types.join(', ').toLowerCase() + ')') && help.includes(engine.frequencyNames.join(', ')),
              `types ${types}, frequencies ${engine.frequencyNames}, the tool:\n${help}`);
    });
    if (!engine) return;

    // A song with the info files of its folder beside it.
    const Song = (song) => ({
        name: song.name, bytes: fs.readFileSync(song.file),
        companions: companionsOf.get(song.folder).map((c) => ({name: c.name, bytes: fs.readFileSync(c.file)})),
    });
    const render = (song, options) => AsBuffer(engine.Render(Song(song), options).samples);

    for (const frequency of ['55467:FM', '44100']) {
        await Test(`WebNode.SameBits.${frequency === '44100' ? 'Hz44100' : 'FM'}`, async () => {
            NeedShared();
            const failures = await Sweep(goodSongs, {frequency}, render);
            Check(failures.length === 0, failures.join('\n'));
        });
    }

    await Test('WebNode.Options', async () => {
        NeedShared();
        const failures = [];
        for (const c of optionCaseTable) failures.push(...await Sweep([songByKey.get(c.song)], c.options, render));
        Check(failures.length === 0, failures.join('\n'));
    });

    await Test('WebNode.InfoLikeTheTool', async () => {
        NeedShared();
        const failures = [];
        for (const song of [...goodSongs, ...badSongs]) {
            const expected = NativeInfo(song.file);
            let actual;
            try {
                actual = engine.Info(Song(song));
                actual.title = OneLine(actual.title);
            } catch (error) {
                actual = null;
                if (!/^cannot open /.test(error.message)) failures.push(`${song.key}: message "${error.message}"`);
            }
            if (JSON.stringify(actual, kToolFields) !== JSON.stringify(expected)) {
                failures.push(`${song.key}: ${JSON.stringify(actual)}, the tool ${JSON.stringify(expected)}`);
            }
        }
        Check(failures.length === 0, failures.join('\n'));
    });

    // The song ends in the last 30 ms block rendered; loop count 0 gives one pass.
    await Test('WebNode.PlayMsAndTags', async () => {
        NeedShared();
        const failures = playCaseTable.flatMap((c) => {
            const song = {name: path.basename(c.song), bytes: fs.readFileSync(songByKey.get(c.song).file)};
            const [info, forever, rendered] = [engine.Info(song, c.options), engine.Info(song, {loopCount: 0}),
                                               engine.Render(song, c.options)];
            const renderedMs = (rendered.samples.length / 2) * 1000 / rendered.rate;
            const wrong = Object.keys(c.tags).filter((key) => info.tags[key] !== c.tags[key]);
            if (!(info.playMs >= renderedMs - 30 && info.playMs <= renderedMs) || forever.playMs !== forever.lengthMs) {
                wrong.push(`${renderedMs} ms rendered, ${forever.playMs} for ever`);
            }
            return wrong.length ? [`${c.song} ${JSON.stringify(c.options)}: ${wrong} in ${JSON.stringify(info)}`] : [];
        });
        Check(failures.length === 0, failures.join('\n'));
    });

    await Test('WebNode.OptionLimitsLikeTheTool', async () => {
        const failures = [];
        // One frame: the tool's render is over at once when it takes the options.
        const tiny = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'tamboril-web-')), 'one_frame.gym');
        fs.writeFileSync(tiny, Buffer.from([0]));
        for (const options of limitCaseTable) {
            const toolRefuses = NativeRender(tiny, options).status === 2;
            let refused = false;
            try {
                engine.RenderOptions(options);
            } catch (error) {
                refused = true;
                if (error.name !== 'RangeError') failures.push(`${JSON.stringify(options)}: ${error.name}`);
            }
            if (refused !== toolRefuses) {
                failures.push(`${JSON.stringify(options)}: page ${refused ? 'refuses' : 'takes'} it, the tool ` +
                              `${toolRefuses ? 'refuses' : 'takes'} it`);
            }
        }
        Check(failures.length === 0, failures.join('\n'));
    });
}

// ---- the page in Chromium -------------------------------------------------

// Serves the page, the songs (/song/KEY) and the tool's renders
// (/native/KEY?options=JSON, raw bytes).
function Serve() {
    const types = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css'};
    const server = http.createServer((request, response) => {
        const url = new URL(request.url, 'http://localhost');
        const key = decodeURIComponent(url.pathname).replace(/^\/(song|native|companions)\//, '');
        if (url.pathname.startsWith('/song/') || url.pathname.startsWith('/native/')) {
            const song = songByKey.get(key);
            if (!song) return response.writeHead(404).end();
            if (url.pathname.startsWith('/song/')) return response.end(fs.readFileSync(song.file));
            const native = NativeRender(song.file, JSON.parse(url.searchParams.get('options') || '{}'));
            if (native.status !== 0) return response.writeHead(422).end(native.stderr);
            return response.end(native.bytes);
        }
        if (url.pathname.startsWith('/companions/')) {
            const song = songByKey.get(key);
            const list = song ? companionsOf.get(song.folder).map((c) => ({name: c.name,
                bytes: fs.readFileSync(c.file).toString('base64')})) : [];
            return response.end(JSON.stringify(list));
        }
        const file = path.join(webDir, url.pathname === '/' ? 'index.html' : path.normalize(url.pathname));
        if (!file.startsWith(webDir) || !fs.existsSync(file)) return response.writeHead(404).end();
        response.writeHead(200, {'Content-Type': types[path.extname(file)] || 'application/octet-stream'});
        response.end(fs.readFileSync(file));
    });
    return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// In the page: renders each song and compares with the tool's bytes, all
// fetched from the test's server. Returns the failures.
async function BrowserSweep(page, cases) {
    return page.evaluate(async (cases) => {
        const failures = [];
        let folder = null;
        for (const c of cases) {
            const companions = await (await fetch('/companions/' + encodeURIComponent(c.key))).json();
            const folderHere = companions.map((x) => x.name).join('/');
            if (folder !== folderHere) {
                tamboril.companions().forEach((x) => tamboril.removeFile(x.name));
                companions.forEach((x) => tamboril.addFile(x.name, Uint8Array.from(atob(x.bytes), (ch) => ch.charCodeAt(0))));
                folder = folderHere;
            }
            const bytes = new Uint8Array(await (await fetch('/song/' + encodeURIComponent(c.key))).arrayBuffer());
            const native = await fetch('/native/' + encodeURIComponent(c.key) + '?options=' +
                                       encodeURIComponent(JSON.stringify(c.options)));
            let samples;
            try {
                samples = await tamboril.render(c.name, bytes, c.options);
            } catch (error) {
                if (native.ok) failures.push(`${c.key}: ${error.message}, the tool renders it`);
                continue;
            }
            if (!native.ok) {
                failures.push(`${c.key}: rendered, the tool refuses it`);
                continue;
            }
            const expected = new Int16Array(await native.arrayBuffer());
            let i = 0;
            const n = Math.min(expected.length, samples.length);
            while (i < n && expected[i] === samples[i]) ++i;
            if (i < n || expected.length !== samples.length) {
                failures.push(`${c.key} ${JSON.stringify(c.options)}: ${samples.length / 2} frames against the ` +
                              `tool's ${expected.length / 2}, first difference at frame ${i >> 1}`);
            }
        }
        return failures;
    }, cases);
}

async function Launch(playwright) {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tamboril-chromium-'));
    const browser = await playwright.chromium.launchPersistentContext(profile, {
        executablePath: kChromium, headless: true, args: kChromiumFlags, acceptDownloads: true,
    });
    return {browser, profile};
}

async function NewPage(browser, url, errors) {
    const page = await browser.newPage();
    page.on('pageerror', (error) => errors.push(error.message));
    await page.goto(url);
    await page.evaluate(() => window.tamboril.ready.then(() => true));
    return page;
}

async function BrowserTests() {
    let playwright;
    try {
        playwright = require('playwright-core');
    } catch (error) {
        await Test('WebBrowser.Starts', () => { throw new Error('playwright-core: ' + error.message); });
        return;
    }
    const server = await Serve();
    const served = `http://127.0.0.1:${server.address().port}/`;
    let session = null;
    const errors = [];
    try {
        await Test('WebBrowser.Starts', async () => {
            Check(fs.existsSync(kChromium), kChromium + ' is missing: scripts/bootstrap web');
            session = await Launch(playwright);
        });
        if (!session) return;
        const page = await NewPage(session.browser, served, errors);

        for (const frequency of ['55467:FM', '44100']) {
            await Test(`WebBrowser.SameBits.${frequency === '44100' ? 'Hz44100' : 'FM'}`, async () => {
                NeedShared();
                const failures = await BrowserSweep(page, goodSongs.map((s) => ({key: s.key, name: s.name,
                                                                                 options: {frequency}})));
                Check(failures.length === 0, failures.join('\n'));
            });
        }

        await Test('WebBrowser.Options', async () => {
            NeedShared();
            const failures = await BrowserSweep(page, optionCaseTable.map((c) => ({key: c.song,
                name: songByKey.get(c.song).name, options: c.options})));
            Check(failures.length === 0, failures.join('\n'));
        });

        await Test('WebBrowser.InfoLikeTheTool', async () => {
            NeedShared();
            const failures = [];
            for (const song of [...goodSongs, ...badSongs]) {
                const expected = NativeInfo(song.file);
                const actual = await page.evaluate(async ({key, name}) => {
                    const companions = await (await fetch('/companions/' + encodeURIComponent(key))).json();
                    tamboril.companions().forEach((x) => tamboril.removeFile(x.name));
                    companions.forEach((x) => tamboril.addFile(x.name, Uint8Array.from(atob(x.bytes), (ch) => ch.charCodeAt(0))));
                    const bytes = await (await fetch('/song/' + encodeURIComponent(key))).arrayBuffer();
                    try {
                        return tamboril.info(name, bytes);
                    } catch (error) {
                        return {error: error.message, isError: error instanceof Error};
                    }
                }, {key: song.key, name: song.name});
                if (actual.error !== undefined) {
                    if (expected !== null || !actual.isError || !/^cannot open /.test(actual.error)) {
                        failures.push(`${song.key}: throws "${actual.error}", the tool ${JSON.stringify(expected)}`);
                    }
                    continue;
                }
                actual.title = OneLine(actual.title);
                if (JSON.stringify(actual, kToolFields) !== JSON.stringify(expected)) {
                    failures.push(`${song.key}: ${JSON.stringify(actual)}, the tool ${JSON.stringify(expected)}`);
                }
            }
            Check(failures.length === 0, failures.join('\n'));
        });

        await PageTests(session.browser, errors);
        await page.close();
    } finally {
        if (session) {
            await session.browser.close();
            fs.rmSync(session.profile, {recursive: true, force: true});
        }
        server.close();
    }
}

// ---- the page as a person uses it ---------------------------------------------

async function PositionMs(page) {
    const text = await page.textContent('#position');
    const [m, s] = text.split(':').map(Number);
    return (m * 60 + s) * 1000;
}

async function WaitFor(what, test, ms) {
    const until = Date.now() + ms;
    for (;;) {
        if (await test()) return;
        if (Date.now() > until) throw new Error(what + ' within ' + ms + ' ms');
        await new Promise((r) => setTimeout(r, 100));
    }
}

async function PageTests(browser, errors) {
    const pageUrl = 'file://' + path.join(webDir, 'index.html');
    const batman = path.join(shared, 'corpus', 'real', 'batman_music02.gym');
    const town = path.join(shared, 'corpus', 'real', 'sforce2_003_town.gym');

    await Test('WebBrowser.PagePlaysFromFolder', async () => {
        NeedShared();
        const page = await NewPage(browser, pageUrl, errors);
        try {
            // The picker offers every type of the test's songs and info files.
            const accept = (await page.getAttribute('#file', 'accept')).split(',');
            const offered = [...goodSongs, ...companionsOf.get(songsDir)].map((s) => path.extname(s.name).toLowerCase());
            Check(offered.every((type) => accept.includes(type)), 'the picker takes ' + accept);
            await page.setInputFiles('#file', [batman, town, demo.file]);
            await WaitFor('three songs in the playlist', async () => (await page.$$('#playlist li')).length === 3, 5000);
            Check(await page.textContent('#title') === 'Batman [ Music 02 ]', 'title ' + await page.textContent('#title'));
            await page.click('#play');
            await WaitFor('the position to advance', async () => await PositionMs(page) >= 1000, 2000 + 1000);
            // Paused, the position holds.
            await page.keyboard.press('Space');
            await WaitFor('the pause to show', async () => /Paused/.test(await page.textContent('#status')), 1000);
            const held = await PositionMs(page);
            await new Promise((r) => setTimeout(r, 1500));
            Check(await PositionMs(page) === held, 'the position moved while paused');
            await page.click('#play');
            await WaitFor('the position to move on after the pause', async () => await PositionMs(page) > held, 2500);
            // The seek bar jumps it.
            await page.$eval('#seek', (bar) => {
                bar.value = 45000;
                bar.dispatchEvent(new Event('change'));
            });
            await WaitFor('the seek to take', async () => await PositionMs(page) >= 45000, 3000);
            // A page busy for 2 s does not stop the music: the engine renders
            // in the worklet, off the page's thread. Stalled with the page, the
            // position would show at most a second more 400 ms later.
            // The shown second has just turned when the busy time begins.
            const shown = await PositionMs(page);
            await WaitFor('the next second', async () => await PositionMs(page) !== shown, 1500);
            const busyFrom = await PositionMs(page);
            await page.evaluate(() => {
                const until = performance.now() + 2000;
                while (performance.now() < until) { /* busy */ }
            });
            await WaitFor('the position to show the busy time played',
                          async () => await PositionMs(page) >= busyFrom + 2000, 400);
            // The next song plays.
            await page.click('#next');
            await WaitFor('the next song', async () => await page.textContent('#title') === 'Shining Force 2 [ Town ]', 2000);
            await WaitFor('the next song to play from its start', async () => {
                const ms = await PositionMs(page);
                return ms >= 1000 && ms < 10000;
            }, 4000);
            if (process.env.WEB_SCREENSHOT) {
                await page.$eval('#settings-box', (box) => { box.open = true; });
                await page.screenshot({path: process.env.WEB_SCREENSHOT, fullPage: true});
            }
            // A damaged file dropped on the page with an info file: one clear
            // message, the info file beside the songs, and the song goes on
            // playing.
            const damaged = fs.readFileSync(path.join(shared, 'songs', 'bad', 'gymx_short_header.gym')).toString('base64');
            await page.$eval('#drop', (drop, b64) => {
                const transfer = new DataTransfer();
                transfer.items.add(new File([Uint8Array.from(atob(b64), (c) => c.charCodeAt(0))], 'broken.gym'));
                transfer.items.add(new File(['Title\r\n'], 'broken.GYI'));
                drop.dispatchEvent(new DragEvent('drop', {dataTransfer: transfer, bubbles: true, cancelable: true}));
            }, damaged);
            await WaitFor('the message', async () => await page.isVisible('#error'), 2000);
            const message = await page.textContent('#error');
            Check(/broken\.gym/.test(message) && /cannot open/.test(message), 'message: ' + message);
            Check((await page.$$('#playlist li')).length === 4, 'the damaged file is not listed as one, or the info is');
            Check(await page.evaluate(() => tamboril.companions().map((c) => c.name).join()) === 'broken.GYI',
                  'the info file is not beside the songs');
            const before = await PositionMs(page);
            await WaitFor('playing on', async () => await PositionMs(page) > before, 2500);
            // Next skips it at the end of the list: the demo plays, then nothing.
            await page.click('#next');
            await WaitFor('the demo', async () => /Tamboril/i.test(await page.textContent('#title')) ||
                          await page.textContent('#form') === 'archive', 2000);
            Check(errors.length === 0, 'page errors: ' + errors.join('; '));
        } finally {
            await page.close();
        }
    });

    // Playlist and seek bar span what plays; a seek into the fade lands; tags show as text.
    await Test('WebBrowser.PlaylistShowsWhatPlays', async () => {
        NeedShared();
        const emerald = songByKey.get('vgm/sonic2emerald.vgm').file;
        const playMs = NativeRender(emerald, {loopCount: 2, fadeoutMs: 2000}).bytes.length / 4 * 1000 / 44100;
        const marked = fs.readFileSync(songByKey.get('songs/song_neon_harbor_gymx.gym').file);
        marked.fill(0, 36, 68).write('<img src=x onerror=hit=1>\x80', 36, 'latin1');
        const Clock = (ms) => Math.floor(ms / 60000) + ':' + String(Math.floor(ms / 1000) % 60).padStart(2, '0');
        const page = await NewPage(browser, pageUrl, errors);
        const Shown = () => page.evaluate(() => ({meta: [...document.querySelectorAll('.meta')].map((m) => m.textContent),
            seekMs: Number(document.getElementById('seek').max), tags: document.getElementById('tags').textContent,
            title: document.getElementById('title').textContent, markup: document.querySelectorAll('img').length + (window.hit || 0)}));
        try {
            await page.evaluate(() => localStorage.setItem('tamboril.settings', '{"loopCount":2,"fadeoutMs":2000}'));
            await page.reload();
            await page.evaluate(() => window.tamboril.ready.then(() => true));
            await page.setInputFiles('#file', [{name: 'emerald.vgm', mimeType: 'audio/x-vgm', buffer: fs.readFileSync(emerald)},
                                               {name: 'marked.gym', mimeType: 'audio/x-gym', buffer: marked}]);
            await WaitFor('two songs', async () => (await Shown()).meta.length === 2, 5000);
            const before = await Shown();
            Check(before.seekMs >= playMs - 30 && before.seekMs <= playMs && before.meta[0].startsWith(Clock(playMs) + ' ') &&
                  ['ソニック・ザ・ヘッジホッグ２', '中村正人, 竹内出穂', '1992/11/21'].every((t) => before.tags.includes(t)),
                  JSON.stringify(before) + ', ' + playMs + ' ms play');
            await page.click('#play');
            await WaitFor('playing', async () => await PositionMs(page) >= 1000, 4000);
            await page.$eval('#seek', (bar, ms) => { bar.value = ms; bar.dispatchEvent(new Event('change')); },
                             Math.floor((before.seekMs - 1500) / 100) * 100);
            await WaitFor('the next song soon after the seek', async () => /<img/.test((await Shown()).title), 4000);
            const after = await Shown();
            Check(after.title === '<img src=x onerror=hit=1>€ [ Neon Harbor ]' && after.tags.includes('<img src=x onerror=hit=1>€') &&
                  after.markup === 0 && errors.length === 0, 'markup: ' + JSON.stringify(after) + errors);
        } finally {
            await page.evaluate(() => localStorage.clear());
            await page.close();
        }
    });

    await Test('WebBrowser.LevelsHeardAtOnce', async () => {
        NeedShared();
        const page = await browser.newPage();
        // A tap between the page's worklet and the speakers, to listen with.
        await page.addInitScript(() => {
            const connect = AudioNode.prototype.connect;
            AudioWorkletNode.prototype.connect = function (destination, ...rest) {
                const tap = this.context.createAnalyser();
                tap.fftSize = 4096;
                connect.call(this, tap);
                window.tap = tap;
                return connect.call(this, destination, ...rest);
            };
        });
        page.on('pageerror', (error) => errors.push(error.message));
        try {
            await page.goto(pageUrl);
            await page.evaluate(() => window.tamboril.ready.then(() => true));
            // Silence until Play has connected the worklet and with it the tap.
            const loudness = () => page.evaluate(() => {
                if (window.tap === undefined) return 0;
                const samples = new Float32Array(window.tap.fftSize);
                window.tap.getFloatTimeDomainData(samples);
                return samples.reduce((peak, x) => Math.max(peak, Math.abs(x)), 0);
            });
            const level = async (value) => {
                for (const key of ['volumeFm', 'volumePsg', 'volumePcm']) {
                    await page.fill('#' + key, String(value));
                    await page.dispatchEvent('#' + key, 'change');
                }
            };
            await page.click('#settings-box summary');
            await page.setInputFiles('#file', [batman]);
            await page.click('#play');
            await WaitFor('sound', async () => await loudness() > 0.01, 3000);
            // 192 half-decibels silences every part; the block playing ends
            // within 30 ms, and the tap looks at the last 93 ms.
            await level(192);
            const silentBy = Date.now();
            await WaitFor('silence', async () => await loudness() === 0, 400);
            await level(0);
            await WaitFor('sound again', async () => await loudness() > 0.01, 400);
            Check(Date.now() - silentBy < 1500, 'slow');
            await page.evaluate(() => localStorage.clear());
        } finally {
            await page.close();
        }
    });

    await Test('WebBrowser.SettingsKeptAndChecked', async () => {
        const page = await NewPage(browser, pageUrl, errors);
        try {
            await page.click('#settings-box summary');
            await page.fill('#loopCount', '7');
            await page.dispatchEvent('#loopCount', 'change');
            await page.selectOption('#frequency', '48000');
            await page.fill('#volumePsg', '300');  // past what the engine takes: refused
            await page.dispatchEvent('#volumePsg', 'change');
            Check(await page.isVisible('#error'), 'no message for a level of 300');
            await page.reload();
            await page.evaluate(() => window.tamboril.ready.then(() => true));
            await WaitFor('the settings', async () => await page.inputValue('#loopCount') === '7', 2000);
            Check(await page.inputValue('#frequency') === '48000', 'rate not kept');
            Check(await page.inputValue('#volumePsg') === '0', 'a refused level was kept');
            // Stored values the engine would refuse fall back to the defaults.
            await page.evaluate(() => localStorage.setItem('tamboril.settings',
                JSON.stringify({loopCount: 999, fadeoutMs: 1000, frequency: '12345'})));
            await page.reload();
            await page.evaluate(() => window.tamboril.ready.then(() => true));
            await WaitFor('the settings', async () => await page.inputValue('#fadeoutMs') === '1000', 2000);
            Check(await page.inputValue('#loopCount') === '2', 'loop count 999 taken');
            Check(await page.inputValue('#frequency') === '55467:FM', 'rate 12345 taken');
            await page.evaluate(() => localStorage.clear());
        } finally {
            await page.close();
        }
    });

    await Test('WebBrowser.SaveAsWavIsTheToolsRender', async () => {
        const page = await NewPage(browser, pageUrl, errors);
        try {
            await page.evaluate(() => localStorage.setItem('tamboril.settings',
                JSON.stringify({loopCount: 1, fadeoutMs: 2000, volumeFm: 4, frequency: '22050'})));
            await page.reload();
            await page.evaluate(() => window.tamboril.ready.then(() => true));
            await page.setInputFiles('#file', [demo.file]);
            await WaitFor('the demo in the playlist', async () => (await page.$$('#playlist li')).length === 1, 3000);
            const [download] = await Promise.all([page.waitForEvent('download'), page.click('#save')]);
            const wav = fs.readFileSync(await download.path());
            Check(download.suggestedFilename() === 'demo.wav', 'named ' + download.suggestedFilename());
            Check(wav.toString('latin1', 0, 4) === 'RIFF' && wav.readUInt32LE(24) === 22050, 'not a 22,050 Hz WAV');
            const expected = NativeRender(demo.file, {loopCount: 1, fadeoutMs: 2000, volumeFm: 4, frequency: '22050'});
            const difference = Difference(expected.bytes, wav.subarray(44));
            Check(difference === null && wav.readUInt32LE(40) === expected.bytes.length, 'WAV data: ' + difference);
            await page.evaluate(() => localStorage.clear());
        } finally {
            await page.close();
        }
    });
}

function Summary() {
    const lines = fs.existsSync(resultsFile) ? fs.readFileSync(resultsFile, 'utf8').split('\n').filter(Boolean) : [];
    lines.forEach((line, i) => results.push(Object.assign({number: i + 1}, JSON.parse(line))));
    const failed = results.filter((r) => r.outcome === 'Failed');
    const skipped = results.filter((r) => r.outcome === 'Skipped');
    console.log('');
    // The summary in ctest's words, which scripts/run-all-tests reads; a
    // skipped test counts among those that passed, as ctest counts it.
    const total = results.length;
    const percent = total === 0 ? 0 : Math.round(100 * (total - failed.length) / total);
    console.log(`${percent}% tests passed, ${failed.length} tests failed out of ${total}`);
    if (skipped.length) {
        console.log('\nThe following tests did not run:');
        skipped.forEach((r) => console.log(`\t${String(r.number).padStart(2)} - ${r.name} (Skipped)`));
    }
    if (failed.length) {
        console.log('\nThe following tests FAILED:');
        failed.forEach((r) => console.log(`\t${String(r.number).padStart(2)} - ${r.name} (Failed)`));
    }
    return failed.length === 0 && total > 0 ? 0 : 1;
}

(async () => {
    if (part === 'summary') process.exit(Summary());
    // Numbers go on from the tests of the part before.
    const before = fs.existsSync(resultsFile) ? fs.readFileSync(resultsFile, 'utf8').split('\n').filter(Boolean) : [];
    before.forEach(() => results.push(null));
    if (part === 'node') {
        console.log(`Web tests: ${webDir} against ${tool}` + (haveShared ? '' : ` (no shared songs in ${shared})`));
        await NodeTests();
    } else {
        await BrowserTests();
    }
    process.exit(results.some((r) => r && r.outcome === 'Failed') ? 1 : 0);
})();
