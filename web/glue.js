// The engine's JavaScript side, shared by the page, the render worker and the
// audio worklet. Each of the three functions below is also handed to a worker
// or the worklet as source text (Function.prototype.toString), so none of
// them may use anything from outside itself but the engine's factory,
// createTamborilEngine, and each other by name.
'use strict';

// Wraps one instance of the engine module: song files, info, whole-song
// renders and a playing song. `module` is what createTamborilEngine resolved
// to; its TamborilInit has not run yet.
function TamborilGlue(module) {
    const kTitleSize = 260;
    const kSongFolder = '/songs';
    // What the native tool's options allow, from the engine itself.
    const kMaxLoops = module._TamborilLimit(0);
    const kMaxFadeMs = module._TamborilLimit(1);
    const kMinLevel = module._TamborilLimit(2);
    const kMaxLevel = module._TamborilLimit(3);
    const kMaxBlockFrames = module._TamborilLimit(4);
    // A whole-song render stops with an error past an hour of output: a
    // looping song with loop count 0 never ends.
    const kMaxRenderSeconds = 3600;
    const kFormNameTable = ['plain', 'GYMX', 'GYMX zlib', 'archive'];
    const kDefaults = {
        frequency: '55467:FM', loopCount: 2, fadeoutMs: 5000,
        volumeFm: 0, volumePsg: 0, volumePcm: 0, seekMs: -1, blockFrames: 0, seekAfterFrames: 0,
    };

    if (module._TamborilInit() !== 1) throw new Error('the FM chip could not be initialised');
    module.FS.mkdir(kSongFolder);

    function CString(text) {
        const size = module.lengthBytesUTF8(text) + 1;
        const pointer = module._malloc(size);
        module.stringToUTF8(text, pointer, size);
        return pointer;
    }

    // The file's name without folders, safe as one name of the song folder.
    function BaseName(name) {
        const base = String(name).split(/[\\/]/).pop().replace(/\0/g, '');
        return base === '' || base === '.' || base === '..' ? 'song' : base;
    }

    // Writes a file into the song folder (an info file beside songs, say)
    // and returns its path there.
    function AddFile(name, bytes) {
        const path = kSongFolder + '/' + BaseName(name);
        module.FS.writeFile(path, bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes));
        return path;
    }

    function RemoveFile(path) {
        try { module.FS.unlink(path); } catch (e) { /* already gone */ }
    }

    function CannotOpen(name) {
        return new Error('cannot open ' + BaseName(name) + ': not a GYM song, or damaged');
    }

    // The loader's reading of a song: {title, lengthMs, loopFrame, form}.
    function Info(name, bytes) {
        const path = AddFile(name, bytes);
        const pathText = CString(path);
        const out = module._malloc(kTitleSize + 12);
        try {
            const ok = module._TamborilInfo(pathText, out, out + kTitleSize, out + kTitleSize + 4, out + kTitleSize + 8);
            if (ok !== 1) throw CannotOpen(name);
            const view = new DataView(module.HEAPU8.buffer, out, kTitleSize + 12);
            const titleBytes = module.HEAPU8.subarray(out, out + kTitleSize);
            const end = titleBytes.indexOf(0);
            // Titles are 8-bit text of unknown code page: shown as Latin-1, each
            // byte one character.
            let title = '';
            for (let i = 0; i < (end < 0 ? kTitleSize : end); ++i) title += String.fromCharCode(titleBytes[i]);
            return {
                title: title,
                lengthMs: view.getInt32(kTitleSize, true),
                loopFrame: view.getUint32(kTitleSize + 4, true),
                form: kFormNameTable[view.getInt32(kTitleSize + 8, true)] || '?',
            };
        } finally {
            module._free(out);
            module._free(pathText);
            RemoveFile(path);
        }
    }

    // The Frequency setting for a name ("55467:FM", "48000" ...), "55555" or
    // a number of Hz; 0 when it is none of the choices.
    function FrequencyCode(frequency) {
        const text = CString(String(frequency));
        try {
            return module._TamborilFrequencyFromName(text);
        } finally {
            module._free(text);
        }
    }

    function WholeNumber(options, key, low, high) {
        const value = options[key];
        if (!Number.isInteger(value) || value < low || value > high) {
            throw new RangeError(key + ' must be a whole number from ' + low + ' to ' + high + ', not ' + value);
        }
        return value;
    }

    // The render options with the tool's defaults filled in and checked as the
    // tool checks them.
    function RenderOptions(options) {
        const merged = Object.assign({}, kDefaults);
        for (const key of Object.keys(options || {})) {
            if (!(key in kDefaults)) throw new RangeError('unknown render option ' + key);
            if (options[key] !== undefined) merged[key] = options[key];
        }
        const frequency = FrequencyCode(merged.frequency);
        if (frequency === 0) {
            throw new RangeError('frequency must be one of 55467:FM, 48000, 44100, 24000, 22050, 11025, not ' +
                                 merged.frequency);
        }
        return {
            frequency: frequency,
            loopCount: WholeNumber(merged, 'loopCount', 0, kMaxLoops),
            fadeoutMs: WholeNumber(merged, 'fadeoutMs', 0, kMaxFadeMs),
            volumeFm: WholeNumber(merged, 'volumeFm', kMinLevel, kMaxLevel),
            volumePsg: WholeNumber(merged, 'volumePsg', kMinLevel, kMaxLevel),
            volumePcm: WholeNumber(merged, 'volumePcm', kMinLevel, kMaxLevel),
            seekMs: WholeNumber(merged, 'seekMs', -1, 0x7FFFFFFF),
            blockFrames: WholeNumber(merged, 'blockFrames', 0, kMaxBlockFrames),
            seekAfterFrames: WholeNumber(merged, 'seekAfterFrames', 0, kMaxBlockFrames),
        };
    }

    function ApplySettings(settings) {
        module._TamborilSetSettings(settings.frequency, settings.loopCount, settings.fadeoutMs);
        module._TamborilSetLevels(settings.volumeFm, settings.volumePsg, settings.volumePcm);
    }

    function OpenPlayer(name, bytes) {
        const path = AddFile(name, bytes);
        const pathText = CString(path);
        const player = module._TamborilOpen(pathText);
        module._free(pathText);
        RemoveFile(path);
        if (player === 0) throw CannotOpen(name);
        return player;
    }

    // The whole song as the native tool renders it: interleaved stereo, as
    // an Int16Array. `progress(fraction)` (may be absent) is told along the
    // way.
    function Render(name, bytes, options, progress) {
        const settings = RenderOptions(options);
        ApplySettings(settings);
        const player = OpenPlayer(name, bytes);
        let buffer = 0;
        try {
            const rate = module._TamborilStart(player);
            const blockFrames = settings.blockFrames > 0 ? settings.blockFrames : module._TamborilBlockFrames(rate);
            const seekAfterFrames = settings.seekAfterFrames > 0 ? settings.seekAfterFrames : blockFrames;
            buffer = module._malloc(4 * Math.max(blockFrames, seekAfterFrames));
            if (settings.seekMs >= 0 && module._TamborilIsRunning(player)) {
                module._TamborilRender(player, buffer, seekAfterFrames);
                module._TamborilSeek(player, settings.seekMs);
            }
            // A first guess at the length: the passes the loop count asks for and
            // the fade; the output grows past it if need be.
            const passMs = module._TamborilLengthMs(player);
            const expectedFrames = Math.ceil((passMs * (settings.loopCount + 1) + settings.fadeoutMs) * rate / 1000) +
                                   blockFrames;
            const maxFrames = kMaxRenderSeconds * rate;
            let out = new Int16Array(2 * Math.min(Math.max(expectedFrames, blockFrames), maxFrames + blockFrames));
            let frames = 0;
            let blocks = 0;
            while (module._TamborilIsRunning(player)) {
                if (frames >= maxFrames) {
                    throw new Error(BaseName(name) + ' plays on past an hour (with loop count 0 a looping song never ends)');
                }
                module._TamborilRender(player, buffer, blockFrames);
                if (2 * (frames + blockFrames) > out.length) {
                    const grown = new Int16Array(Math.max(2 * out.length, 2 * (frames + blockFrames)));
                    grown.set(out.subarray(0, 2 * frames));
                    out = grown;
                }
                out.set(module.HEAP16.subarray(buffer >> 1, (buffer >> 1) + 2 * blockFrames), 2 * frames);
                frames += blockFrames;
                if (progress && ++blocks % 256 === 0) progress(Math.min(0.99, frames / expectedFrames));
            }
            if (progress) progress(1);
            return {samples: out.slice(0, 2 * frames), rate: rate};
        } finally {
            if (buffer !== 0) module._free(buffer);
            module._TamborilClose(player);
        }
    }

    // One song playing block by block, for the audio worklet.
    function Playback(name, bytes, settings) {
        ApplySettings(settings);
        const player = OpenPlayer(name, bytes);
        const rate = module._TamborilStart(player);
        const blockFrames = module._TamborilBlockFrames(rate);
        const buffer = module._malloc(4 * blockFrames);
        let closed = false;
        return {
            rate: rate,
            blockFrames: blockFrames,
            lengthMs: module._TamborilLengthMs(player),
            // The next block; a view into the engine's memory, valid until the
            // next call.
            Next() {
                module._TamborilRender(player, buffer, blockFrames);
                return module.HEAP16.subarray(buffer >> 1, (buffer >> 1) + 2 * blockFrames);
            },
            Seek(ms) { module._TamborilSeek(player, ms); },
            Levels(fm, psg, pcm) { module._TamborilSetLevels(fm, psg, pcm); },
            PositionMs() { return module._TamborilPositionMs(player); },
            LoopsDone() { return module._TamborilLoopsDone(player); },
            IsRunning() { return module._TamborilIsRunning(player) !== 0; },
            Close() {
                if (closed) return;
                closed = true;
                module._free(buffer);
                module._TamborilClose(player);
            },
        };
    }

    // The output rate a song gets with these settings, without starting it.
    function OutputRate(name, bytes, settings) {
        ApplySettings(settings);
        const player = OpenPlayer(name, bytes);
        const rate = module._TamborilSampleRate(player);
        module._TamborilClose(player);
        return rate;
    }

    return {
        AddFile, RemoveFile, Info, Render, RenderOptions, Playback, OutputRate, FrequencyCode,
        defaults: kDefaults, limits: {kMaxLoops, kMaxFadeMs, kMinLevel, kMaxLevel},
    };
}

// The render worker: renders whole songs on request.
//   in:  {id, name, bytes, options, companions: [{name, bytes}]}
//   out: {id, progress} while rendering, then {id, samples, rate} or {id, error}
function TamborilRenderWorker(scope) {
    const glue = createTamborilEngine().then(TamborilGlue);
    scope.onmessage = (event) => {
        const request = event.data;
        glue.then((engine) => {
            const added = (request.companions || []).map((c) => engine.AddFile(c.name, c.bytes));
            try {
                const result = engine.Render(request.name, request.bytes, request.options,
                                             (fraction) => scope.postMessage({id: request.id, progress: fraction}));
                scope.postMessage({id: request.id, samples: result.samples, rate: result.rate},
                                  [result.samples.buffer]);
            } finally {
                added.forEach((path) => engine.RemoveFile(path));
            }
        }).catch((error) => {
            scope.postMessage({id: request.id, error: error.message, kind: error.name});
        });
    };
}

// The audio worklet: plays one song at a time, rendering a 30 ms block
// whenever less than a block is left to hand out, so that a level change is
// heard within a block.
//   in:  {load: {name, bytes, companions, settings}}, {seek: ms},
//        {levels: [fm, psg, pcm]}, {paused: bool}, {stop: true}
//   out: {loaded: {rate, lengthMs}} or {failed: message}; {status: {positionMs,
//        loopsDone, running}} about ten times a second; {ended: true}
function TamborilWorkletMain() {
    class TamborilProcessor extends AudioWorkletProcessor {
        constructor() {
            super();
            this.engine = null;
            this.song = null;
            this.block = null;   // the current block, Float32 left and right
            this.blockLeft = null;
            this.blockRight = null;
            this.offset = 0;     // frames of the current block already handed out
            this.paused = true;
            this.endedSent = false;
            this.sinceStatus = 0;
            this.serial = 0;     // the page's number of the song loaded last
            this.pending = [];
            createTamborilEngine().then((module) => {
                this.engine = TamborilGlue(module);
                const pending = this.pending;
                this.pending = null;
                pending.forEach((data) => this.Handle(data));
            }).catch((error) => this.Post({failed: 'the engine did not start: ' + error.message}));
            this.port.onmessage = (event) => {
                if (this.pending) this.pending.push(event.data);
                else this.Handle(event.data);
            };
        }

        // Every answer carries the load it belongs to, so that the page can
        // drop what an earlier song said after it moved on.
        Post(message) {
            message.serial = this.serial;
            this.port.postMessage(message);
        }

        Handle(data) {
            if (data.load) {
                this.Stop();
                this.serial = data.serial;
                const load = data.load;
                const added = (load.companions || []).map((c) => this.engine.AddFile(c.name, c.bytes));
                try {
                    this.song = this.engine.Playback(load.name, load.bytes, load.settings);
                    this.blockLeft = new Float32Array(this.song.blockFrames);
                    this.blockRight = new Float32Array(this.song.blockFrames);
                    this.offset = this.song.blockFrames;
                    this.endedSent = false;
                    this.Post({loaded: {rate: this.song.rate, lengthMs: this.song.lengthMs}});
                } catch (error) {
                    this.Post({failed: error.message});
                } finally {
                    added.forEach((path) => this.engine.RemoveFile(path));
                }
            }
            if (data.levels && this.song) this.song.Levels(data.levels[0], data.levels[1], data.levels[2]);
            if (data.seek !== undefined && this.song) {
                this.song.Seek(data.seek);
                this.offset = this.song.blockFrames;
                this.endedSent = false;
                this.Status();
            }
            if (data.paused !== undefined) this.paused = data.paused;
            if (data.stop) this.Stop();
        }

        Stop() {
            if (this.song) this.song.Close();
            this.song = null;
        }

        Status() {
            if (!this.song) return;
            this.Post({status: {
                positionMs: this.song.PositionMs(), loopsDone: this.song.LoopsDone(), running: this.song.IsRunning(),
            }});
        }

        process(inputs, outputs) {
            const left = outputs[0][0];
            const right = outputs[0][1] || outputs[0][0];
            if (!this.song || this.paused) return true;
            let done = 0;
            while (done < left.length) {
                if (this.offset >= this.song.blockFrames) {
                    if (!this.song.IsRunning()) {
                        if (!this.endedSent) {
                            this.endedSent = true;
                            this.Status();
                            this.Post({ended: true});
                        }
                        return true;
                    }
                    const samples = this.song.Next();
                    for (let i = 0; i < this.song.blockFrames; ++i) {
                        this.blockLeft[i] = samples[2 * i] / 32768;
                        this.blockRight[i] = samples[2 * i + 1] / 32768;
                    }
                    this.offset = 0;
                }
                const n = Math.min(left.length - done, this.song.blockFrames - this.offset);
                left.set(this.blockLeft.subarray(this.offset, this.offset + n), done);
                if (right !== left) right.set(this.blockRight.subarray(this.offset, this.offset + n), done);
                done += n;
                this.offset += n;
            }
            this.sinceStatus += left.length;
            if (this.sinceStatus >= sampleRate / 10) {
                this.sinceStatus = 0;
                this.Status();
            }
            return true;
        }
    }
    registerProcessor('tamboril', TamborilProcessor);
}
