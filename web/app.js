// The page: a playlist of dropped or chosen songs played through an audio
// worklet that runs the engine, the settings of the plug-in's property sheet
// kept in the browser's local storage, and "Save as WAV" rendered in a worker.
(function () {
    'use strict';

    const kStorageKey = 'tamboril.settings';
    const kSettingKeys = ['frequency', 'loopCount', 'fadeoutMs', 'volumeFm', 'volumePsg', 'volumePcm'];
    const kLevelKeys = ['volumeFm', 'volumePsg', 'volumePcm'];
    // Settings that change how long a song plays: a song takes them as it opens.
    const kLengthKeys = ['frequency', 'loopCount', 'fadeoutMs'];
    // The tags shown under the title, a row each: the English field, its
    // Japanese twin, and the row's label for GYM and for VGM songs. The song's
    // track is in the title; its row shows only beside a Japanese one.
    const kTagRows = [
        {key: 'track', ja: 'trackJa', label: 'Track', onlyWithJa: true},
        {key: 'game', ja: 'gameJa', label: 'Game'},
        {key: 'author', ja: 'authorJa', label: 'Author'},
        {key: 'system', ja: 'systemJa', label: 'System'},
        {key: 'date', label: 'Date'},
        {key: 'publisher', label: 'Publisher'},
        {key: 'dumper', label: 'Dumped by', vgmLabel: 'Ripped by'},
        {key: 'emulator', label: 'Logged with'},
    ];

    const $ = (id) => document.getElementById(id);
    const playlist = [];   // {name, bytes, info, forever, error}
    let current = -1;
    let state = 'stopped'; // stopped, playing, paused
    let audio = null;      // {context, node, rate}
    let positionMs = 0;
    let seeking = false;
    let loadSerial = 0;    // which load the worklet's answers belong to
    let settings = null;

    function Clock(ms) {
        const seconds = Math.max(0, Math.floor(ms / 1000));
        return Math.floor(seconds / 60) + ':' + String(seconds % 60).padStart(2, '0');
    }

    function ShowError(message) {
        const box = $('error');
        box.textContent = message;
        box.hidden = !message;
    }

    function Status(text) { $('status').textContent = text; }

    // Settings: the defaults of the tool and the plug-in, then what was
    // stored, each value checked as the engine checks it.
    function LoadSettings() {
        const defaults = tamboril.defaults;
        const chosen = {};
        kSettingKeys.forEach((key) => { chosen[key] = defaults[key]; });
        try {
            const stored = JSON.parse(localStorage.getItem(kStorageKey) || '{}');
            kSettingKeys.forEach((key) => {
                if (stored[key] === undefined) return;
                const trial = Object.assign({}, chosen, {[key]: stored[key]});
                try {
                    tamboril.settingsFor(trial);
                    chosen[key] = stored[key];
                } catch (e) { /* a stored value out of range keeps the default */ }
            });
        } catch (e) { /* unreadable storage: defaults */ }
        return chosen;
    }

    function SaveSettings() {
        try { localStorage.setItem(kStorageKey, JSON.stringify(settings)); } catch (e) { /* private mode */ }
    }

    function ShowSettings() {
        kSettingKeys.forEach((key) => { $(key).value = settings[key]; });
    }

    // Takes a field's new value when the engine accepts it; else shows why
    // and puts the old value back.
    function SettingChanged(key) {
        const field = $(key);
        const value = key === 'frequency' ? field.value : Number(field.value);
        const trial = Object.assign({}, settings, {[key]: value});
        try {
            tamboril.settingsFor(trial);
        } catch (error) {
            ShowError(error.message);
            field.value = settings[key];
            return;
        }
        ShowError('');
        settings = trial;
        SaveSettings();
        if (kLengthKeys.includes(key)) RefreshLengths();
        if (kLevelKeys.includes(key) && audio) {
            audio.node.port.postMessage({levels: kLevelKeys.map((k) => settings[k])});
        }
    }

    function EngineSettings() { return tamboril.settingsFor(settings); }

    // The length a song plays, with "∞" when it loops for ever (its one pass
    // is the length then).
    function PlayClock(entry) {
        return Clock(entry.info.playMs) + (entry.forever ? ' ∞' : '');
    }

    // Reads an entry's facts and tags with the settings in force now, as its
    // session will open with them.
    function ReadInfo(entry) {
        const engineSettings = EngineSettings();
        entry.info = tamboril.info(entry.name, entry.bytes, engineSettings);
        entry.forever = entry.info.loopFrame !== 0 && engineSettings.loopCount === 0;
    }

    // After a change of loop count, fade-out or rate: every song but the one
    // in play shows the length it will now play.
    function RefreshLengths() {
        playlist.forEach((entry, index) => {
            if (entry.error || (index === current && state !== 'stopped')) return;
            try {
                ReadInfo(entry);
            } catch (error) {
                entry.error = error.message;
            }
        });
        if (state === 'stopped') ShowSong();
        else ShowPlaylist();
    }

    function ShowPlaylist() {
        const list = $('playlist');
        list.textContent = '';
        playlist.forEach((entry, index) => {
            const item = document.createElement('li');
            item.textContent = entry.info ? entry.info.title : entry.name;
            const meta = document.createElement('span');
            meta.className = 'meta';
            meta.textContent = entry.info ? PlayClock(entry) + ' · ' + entry.info.form : 'cannot be played';
            if (entry.forever) meta.title = 'loops for ever: the length of one pass';
            item.appendChild(meta);
            if (entry.error) item.classList.add('bad');
            if (index === current) item.classList.add('current');
            item.addEventListener('dblclick', () => { if (!entry.error) Play(index); });
            list.appendChild(item);
        });
    }

    function ShowSong() {
        const entry = playlist[current];
        $('title').textContent = entry && entry.info ? entry.info.title : 'No song';
        $('form').textContent = entry && entry.info ? entry.info.form : '–';
        $('length').textContent = entry && entry.info ? PlayClock(entry) : '–';
        $('length').title = entry && entry.info ? 'one pass ' + Clock(entry.info.lengthMs) +
            (entry.forever ? ', looping for ever' : '') : '';
        $('duration').textContent = entry && entry.info ? Clock(entry.info.playMs) : '0:00';
        $('seek').max = entry && entry.info ? entry.info.playMs : 0;
        ShowTags(entry && entry.info ? entry.info : null);
        ShowPosition(0, 0);
        ShowPlaylist();
    }

    // The song's tags under its title, as text, never as markup: a row a
    // field the file fills, the Japanese text beside the English; the comment
    // folded away.
    function ShowTags(info) {
        const list = $('tags');
        const comment = $('comment');
        list.textContent = '';
        const tags = info ? info.tags : {};
        const isVgm = info !== null && /^VG[MZ]/.test(info.form);
        kTagRows.forEach((row) => {
            const english = tags[row.key] || '';
            const japanese = row.ja ? tags[row.ja] || '' : '';
            if ((row.onlyWithJa ? japanese : english + japanese) === '') return;
            const term = document.createElement('dt');
            term.textContent = isVgm && row.vgmLabel ? row.vgmLabel : row.label;
            const value = document.createElement('dd');
            value.textContent = english;
            if (japanese !== '') {
                const twin = document.createElement('span');
                twin.lang = 'ja';
                twin.className = 'ja';
                twin.textContent = japanese;
                value.appendChild(twin);
            }
            list.append(term, value);
        });
        list.hidden = list.childElementCount === 0;
        comment.hidden = !tags.comment;
        comment.querySelector('summary').textContent = isVgm ? 'Notes' : 'Comment';
        $('comment-text').textContent = tags.comment || '';
    }

    function ShowPosition(ms, loops) {
        positionMs = ms;
        $('position').textContent = Clock(ms);
        if (!seeking) $('seek').value = ms;
        $('loops').textContent = loops;
    }

    // Reads dropped or chosen files: the files a format reads beside its
    // songs (info files) lie beside every song, the rest join the playlist,
    // each read by the loader at once so that a damaged one is named now.
    async function AddFiles(files) {
        const read = await Promise.all(Array.from(files, async (file) => ({
            name: file.name, bytes: new Uint8Array(await file.arrayBuffer()),
        })));
        read.filter((f) => tamboril.isCompanion(f.name)).forEach((f) => tamboril.addFile(f.name, f.bytes));
        const problems = [];
        const first = playlist.length;
        read.filter((f) => !tamboril.isCompanion(f.name)).forEach((f) => {
            const entry = {name: f.name, bytes: f.bytes, info: null, forever: false, error: null};
            try {
                ReadInfo(entry);
            } catch (error) {
                entry.error = error.message;
                problems.push(error.message);
            }
            playlist.push(entry);
        });
        ShowError(problems.length === 0 ? '' : problems.length === 1 ? problems[0] :
                  problems.length + ' files cannot be played: ' + problems.join('; '));
        ShowPlaylist();
        if (current < 0 || state === 'stopped') {
            const playable = playlist.findIndex((e, i) => i >= first && !e.error);
            if (playable >= 0) {
                current = playable;
                ShowSong();
            }
        }
    }

    // The audio graph at `rate`, made anew when the rate changes.
    async function AudioAt(rate) {
        if (audio && audio.rate === rate) return audio;
        if (audio) {
            audio.node.disconnect();
            audio.context.close();
            audio = null;
        }
        const context = new AudioContext({sampleRate: rate, latencyHint: 'playback'});
        await context.audioWorklet.addModule(tamboril.workletUrl());
        const node = new AudioWorkletNode(context, 'tamboril', {
            numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
        });
        node.connect(context.destination);
        node.port.onmessage = (event) => FromWorklet(event.data);
        // An engine that trapped plays no more: the next song gets a new one.
        node.onprocessorerror = () => {
            ShowError('The engine stopped while playing ' + (playlist[current] ? playlist[current].name : 'a song') +
                      '; play again to go on.');
            if (audio && audio.node === node) {
                audio.context.close();
                audio = null;
            }
            state = 'stopped';
            Status('Stopped');
        };
        audio = {context, node, rate};
        return audio;
    }

    function FromWorklet(data) {
        if (data.serial !== undefined && data.serial !== loadSerial) return;
        if (data.status && state !== 'stopped') ShowPosition(data.status.positionMs, data.status.loopsDone);
        if (data.loaded) Status('Playing at ' + data.loaded.rate + ' Hz');
        if (data.failed) {
            const entry = playlist[current];
            if (entry) entry.error = data.failed;
            ShowError(data.failed);
            Next(1);
        }
        if (data.ended && state === 'playing') {
            if (!Next(1)) Stop();
        }
    }

    async function Play(index) {
        if (index === undefined) {
            if (state === 'paused') {
                audio.node.port.postMessage({paused: false});
                await audio.context.resume();
                state = 'playing';
                Status('Playing at ' + audio.rate + ' Hz');
                return;
            }
            if (state === 'playing') return;
            index = current >= 0 ? current : playlist.findIndex((e) => !e.error);
        }
        const entry = playlist[index];
        if (!entry) return;
        current = index;
        // The song plays with the settings in force now: its length too.
        if (!entry.error) {
            try {
                ReadInfo(entry);
            } catch (error) {
                entry.error = error.message;
                ShowError(entry.name + ': ' + error.message);
            }
        }
        ShowSong();
        if (entry.error) {
            if (!Next(1)) Stop();
            return;
        }
        const engineSettings = EngineSettings();
        let rate;
        try {
            rate = tamboril.outputRate(entry.name, entry.bytes, engineSettings);
            await AudioAt(rate);
        } catch (error) {
            entry.error = error.message;
            ShowError(entry.name + ': ' + error.message);
            Stop();
            return;
        }
        loadSerial++;
        audio.node.port.postMessage({stop: true});
        audio.node.port.postMessage({
            load: {name: entry.name, bytes: entry.bytes, companions: tamboril.companions(), settings: engineSettings},
            serial: loadSerial,
        });
        audio.node.port.postMessage({paused: false});
        await audio.context.resume();
        state = 'playing';
    }

    function Pause() {
        if (state !== 'playing') return;
        audio.node.port.postMessage({paused: true});
        state = 'paused';
        Status('Paused');
    }

    function Stop() {
        if (audio) audio.node.port.postMessage({stop: true});
        state = 'stopped';
        ShowPosition(0, 0);
        Status('Stopped');
    }

    // Moves `step` songs on, past songs that cannot be played; false at the
    // end of the list.
    function Next(step) {
        for (let i = current + step; i >= 0 && i < playlist.length; i += step) {
            if (playlist[i].error) continue;
            if (state === 'stopped') {
                current = i;
                ShowSong();
            } else {
                Play(i);
            }
            return true;
        }
        return false;
    }

    function Seek(ms) {
        if (!audio || state === 'stopped') return;
        audio.node.port.postMessage({seek: ms});
        ShowPosition(ms, $('loops').textContent);
    }

    // "Save as WAV": the whole song with the current settings, rendered in
    // the worker.
    async function SaveWav() {
        const entry = playlist[current];
        if (!entry || entry.error) return;
        const bar = $('progress');
        bar.hidden = false;
        bar.value = 0;
        $('save').disabled = true;
        Status('Rendering ' + entry.name + '…');
        try {
            const options = Object.assign({}, settings, {onProgress: (f) => { bar.value = f; }});
            const result = await tamboril.renderWithRate(entry.name, entry.bytes, options);
            const link = document.createElement('a');
            link.href = URL.createObjectURL(WavFile(result.samples, result.rate));
            link.download = tamboril.stem(entry.name) + '.wav';
            document.body.appendChild(link);
            link.click();
            link.remove();
            setTimeout(() => URL.revokeObjectURL(link.href), 60000);
            Status('Saved ' + link.download);
        } catch (error) {
            ShowError(error.message);
        } finally {
            bar.hidden = true;
            $('save').disabled = false;
        }
    }

    // A 16-bit stereo PCM WAV file of interleaved samples.
    function WavFile(samples, rate) {
        const header = new DataView(new ArrayBuffer(44));
        const text = (offset, s) => { for (let i = 0; i < 4; ++i) header.setUint8(offset + i, s.charCodeAt(i)); };
        const dataBytes = samples.length * 2;
        text(0, 'RIFF');
        header.setUint32(4, 36 + dataBytes, true);
        text(8, 'WAVE');
        text(12, 'fmt ');
        header.setUint32(16, 16, true);
        header.setUint16(20, 1, true);         // PCM
        header.setUint16(22, 2, true);         // stereo
        header.setUint32(24, rate, true);
        header.setUint32(28, rate * 4, true);  // bytes a second
        header.setUint16(32, 4, true);         // bytes a frame
        header.setUint16(34, 16, true);
        text(36, 'data');
        header.setUint32(40, dataBytes, true);
        // WAV is little-endian, as is every typed array on the machines that
        // run browsers.
        return new Blob([header.buffer, samples.buffer], {type: 'audio/wav'});
    }

    function Wire() {
        $('file').addEventListener('change', (event) => {
            AddFiles(event.target.files);
            event.target.value = '';
        });
        const drop = $('drop');
        ['dragenter', 'dragover'].forEach((name) => drop.addEventListener(name, (event) => {
            event.preventDefault();
            drop.classList.add('over');
        }));
        ['dragleave', 'drop'].forEach((name) => drop.addEventListener(name, () => drop.classList.remove('over')));
        drop.addEventListener('drop', (event) => {
            event.preventDefault();
            AddFiles(event.dataTransfer.files);
        });
        // A drop beside the box is taken too, rather than opening the file.
        document.addEventListener('dragover', (event) => event.preventDefault());
        document.addEventListener('drop', (event) => {
            event.preventDefault();
            if (!drop.contains(event.target)) AddFiles(event.dataTransfer.files);
        });
        $('play').addEventListener('click', () => Play());
        $('pause').addEventListener('click', Pause);
        $('stop').addEventListener('click', Stop);
        $('next').addEventListener('click', () => Next(1));
        $('previous').addEventListener('click', () => Next(-1));
        $('save').addEventListener('click', SaveWav);
        const seek = $('seek');
        seek.addEventListener('input', () => {
            seeking = true;
            $('position').textContent = Clock(Number(seek.value));
        });
        seek.addEventListener('change', () => {
            seeking = false;
            Seek(Number(seek.value));
        });
        document.addEventListener('keydown', (event) => {
            if (event.code !== 'Space' || event.repeat) return;
            // Fields that take typed text keep their space; on buttons and the
            // seek bar it pauses rather than pressing them.
            const target = event.target;
            if (target.tagName === 'SELECT' || target.tagName === 'TEXTAREA' ||
                (target.tagName === 'INPUT' && !['range', 'file'].includes(target.type))) return;
            event.preventDefault();
            if (state === 'playing') Pause();
            else Play();
        });
        kSettingKeys.forEach((key) => $(key).addEventListener('change', () => SettingChanged(key)));
        $('defaults').addEventListener('click', () => {
            kSettingKeys.forEach((key) => { $(key).value = tamboril.defaults[key]; SettingChanged(key); });
        });
    }

    // What the page opens and offers, from the engine's lists.
    function ShowFormats() {
        $('file').accept = tamboril.accept;
        $('formats').textContent = 'plays ' + tamboril.formats.map((format) => {
            const names = [...format.extensions.map((e) => '.' + e), ...format.nameEndings].join(', ');
            const beside = format.companions.map((e) => '.' + e).join(', ');
            return format.name + ' files (' + names.toLowerCase() +
                   (beside ? ', with their ' + beside.toLowerCase() + ' files' : '') + ')';
        }).join('; ');
        tamboril.frequencyNames.forEach((name) => $('frequency').add(new Option(name)));
    }

    tamboril.ready.then(() => {
        ShowFormats();
        settings = LoadSettings();
        ShowSettings();
        Wire();
        Status('Ready: open or drop songs');
    }).catch((error) => {
        ShowError('The engine did not start: ' + error.message);
    });
})();
