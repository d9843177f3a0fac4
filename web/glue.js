// The engine's JavaScript side, shared by the page, the render worker and the
// audio worklet. Each of the three functions below is also handed to a worker
// or the worklet as source text (Function.prototype.toString), so none of
// them may use anything from outside itself but the engine's factory,
// createTamborilEngine, and each other by name.
'use strict';

// Wraps one instance of the engine module: song facts, whole-song renders, a
// playing song, and the engine's lists of formats and frequencies. `module`
// is what createTamborilEngine resolved to; its TamborilInit has not run yet.
//
// A song is {name, bytes, companions}: its file's name and bytes (a
// Uint8Array or an ArrayBuffer) and the files beside it, [{name, bytes}] or
// absent, which its format reads by name (a GYM song's .gyi info file).
function TamborilGlue(module) {
    // What the native tool's options allow, from the engine itself.
    const kMaxLoops = module._TamborilLimit(0);
    const kMaxFadeMs = module._TamborilLimit(1);
    const kMinLevel = module._TamborilLimit(2);
    const kMaxLevel = module._TamborilLimit(3);
    const kMaxBlockFrames = module._TamborilLimit(4);
    // A whole-song render stops with an error past an hour of output: a
    // looping song with loop count 0 never ends.
    const kMaxRenderSeconds = 3600;
    const kDefaults = {
        frequency: '55467:FM', loopCount: 2, fadeoutMs: 5000,
        volumeFm: 0, volumePsg: 0, volumePcm: 0, seekMs: -1, blockFrames: 0, seekAfterFrames: 0,
    };

    if (module._TamborilInit() !== 1) throw new Error('the FM chip could not be initialised');

    function CString(text) {
        const size = module.lengthBytesUTF8(text) + 1;
        const pointer = module._malloc(size);
        module.stringToUTF8(text, pointer, size);
        return pointer;
    }

    // The engine's 8-bit text at `pointer` (its lists and forms, all ASCII),
    // each byte one character.
    function Text(pointer) {
        const heap = module.HEAPU8;
        let text = '';
        for (let i = pointer; heap[i] !== 0; ++i) text += String.fromCharCode(heap[i]);
        return text;
    }

    // The formats the engine plays, from its format list: {name, extensions,
    // nameEndings, companions}, each entry in upper case; extensions without
    // their dot ("GYM"), name endings with it (".GYM.ZIP").
    const List = (field) => (field ? field.split(';') : []);
    const kFormats = Text(module._TamborilFormatList()).split('\n').filter(Boolean).map((line) => {
        const fields = line.split('\t');
        return {name: fields[0], extensions: List(fields[1]), nameEndings: List(fields[2]), companions: List(fields[3])};
    });
    // The Frequency setting's names, as the tool's option takes them.
    const kFrequencyNames = [];
    for (let name; (name = module._TamborilFrequencyName(kFrequencyNames.length)) !== 0;) {
        kFrequencyNames.push(Text(name));
    }

    // The file's name without folders, never empty.
    function BaseName(name) {
        const base = String(name).split(/[\\/]/).pop().replace(/\0/g, '');
        return base === '' || base === '.' || base === '..' ? 'song' : base;
    }

    function CannotOpen(name) {
        return new Error('cannot open ' + BaseName(name) + ': not a song Tamboril plays, or damaged');
    }

    // `size` bytes of the engine's memory, for the caller to free.
    function Allocate(size, what) {
        const pointer = module._malloc(Math.max(1, size));
        if (pointer === 0) throw new Error('not enough memory for ' + what);
        return pointer;
    }

    // A copy of a file's bytes in the engine's memory, for the caller to free.
    function Copy(bytes, name) {
        const pointer = Allocate(bytes.length, BaseName(name));
        module.HEAPU8.set(bytes, pointer);
        return pointer;
    }

    // The engine's session of `song`, opened with the settings in force now
    // and not started; throws when its format cannot load it.
    function OpenSession(song) {
        const companions = song.companions || [];
        const taken = [];  // what the engine is handed, freed once it has opened the song
        const Take = (pointer) => { taken.push(pointer); return pointer; };
        try {
            // Three words a file beside the song: its name, its bytes, their count.
            const table = Take(Allocate(12 * companions.length, 'the files beside ' + BaseName(song.name)));
            companions.forEach((file, i) => {
                const bytes = new Uint8Array(file.bytes);
                const words = [Take(CString(BaseName(file.name))), Take(Copy(bytes, file.name)), bytes.length];
                module.HEAPU32.set(words, (table >> 2) + 3 * i);
            });
            const bytes = song.bytes instanceof Uint8Array ? song.bytes : new Uint8Array(song.bytes);
            const session = module._TamborilOpen(Take(CString(BaseName(song.name))), Take(Copy(bytes, song.name)),
                                                 bytes.length, table, companions.length);
            if (session === 0) throw CannotOpen(song.name);
            return session;
        } finally {
            taken.forEach((pointer) => module._free(pointer));
        }
    }

    // The song's tags by name, in the order the engine keeps its fields.
    const kTagKeys = ['track', 'game', 'system', 'author', 'date', 'publisher', 'dumper', 'comment',
                      'trackJa', 'gameJa', 'systemJa', 'authorJa', 'emulator'];

    // The song as `tamboril info` reads it: {title, lengthMs, loopFrame, form,
    // playMs, tags}, the title as Unicode text, the loop point in the format's own unit (a GYM's frame
    // marker number), playMs what plays with the loop count, fade-out and
    // rate of `options` (render options; the tool's defaults where absent),
    // tags every field of kTagKeys as UTF-8 text, "" where the file has none.
    function Info(song, options) {
        ApplySettings(RenderOptions(options));
        const session = OpenSession(song);
        const facts = module._malloc(20);
        try {
            module._TamborilInfo(session, facts);
            const words = module.HEAPU32.subarray(facts >> 2, (facts >> 2) + 5);
            const tags = {};
            kTagKeys.forEach((key, i) => { tags[key] = module.UTF8ToString(module._TamborilTag(session, i)); });
            return {title: module.UTF8ToString(module._TamborilTitle(session)), lengthMs: words[1] | 0, loopFrame: words[3], form: Text(words[2]),
                    playMs: words[4] | 0, tags: tags};
        } finally {
            module._free(facts);
            module._TamborilClose(session);
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
            throw new RangeError('frequency must be one of ' + kFrequencyNames.join(', ') + ', not ' + merged.frequency);
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

    // The session takes the rate, loop count and fade-out as it opens; the
    // levels at every block.
    function ApplySettings(settings) {
        module._TamborilSetSettings(settings.frequency, settings.loopCount, settings.fadeoutMs);
        module._TamborilSetLevels(settings.volumeFm, settings.volumePsg, settings.volumePcm);
    }

    // `song` playing with `settings` (checked ones, as RenderOptions gives
    // them), started: the whole-song render and the audio worklet both play
    // through this.
    function Play(song, settings) {
        ApplySettings(settings);
        const session = OpenSession(song);
        module._TamborilStart(session);
        let buffer = 0;
        let capacity = 0;  // frames
        let closed = false;
        return {
            rate: module._TamborilSampleRate(session),
            blockFrames: module._TamborilBlockFrames(session),  // the host's block at that rate
            lengthMs: module._TamborilLengthMs(session),
            playMs: module._TamborilPlayMs(session),  // one pass when it loops for ever
            // The next `frames` frames, interleaved stereo: a view into the
            // engine's memory, valid until the next call.
            Next(frames) {
                if (frames > capacity) {
                    const larger = Allocate(4 * frames, 'a block of ' + frames + ' frames');
                    module._free(buffer);
                    buffer = larger;
                    capacity = frames;
                }
                module._TamborilRender(session, buffer, frames);
                return module.HEAP16.subarray(buffer >> 1, (buffer >> 1) + 2 * frames);
            },
            Seek(ms) { module._TamborilSeek(session, ms); },
            Levels(fm, psg, pcm) { module._TamborilSetLevels(fm, psg, pcm); },
            PositionMs() { return module._TamborilPositionMs(session); },
            LoopsDone() { return module._TamborilLoopsDone(session); },
            IsRunning() { return module._TamborilIsRunning(session) !== 0; },
            Close() {
                if (closed) return;
                closed = true;
                module._free(buffer);
                module._TamborilClose(session);
            },
        };
    }

    // The whole song as the native tool renders it: interleaved stereo, as
    // an Int16Array. `progress(fraction)` (may be absent) is told along the
    // way.
    function Render(song, options, progress) {
        const settings = RenderOptions(options);
        const playing = Play(song, settings);
        try {
            const rate = playing.rate;
            const blockFrames = settings.blockFrames > 0 ? settings.blockFrames : playing.blockFrames;
            // The tool's seek: one block (of seekAfterFrames when given) is
            // played, then the song moves.
            if (settings.seekMs >= 0 && playing.IsRunning()) {
                playing.Next(settings.seekAfterFrames > 0 ? settings.seekAfterFrames : blockFrames);
                playing.Seek(settings.seekMs);
            }
            // A first guess at the length: what plays (one pass for a song that
            // loops for ever); the output grows past it if need be.
            const expectedFrames = Math.ceil(playing.playMs * rate / 1000) + blockFrames;
            const maxFrames = kMaxRenderSeconds * rate;
            let out = new Int16Array(2 * Math.min(Math.max(expectedFrames, blockFrames), maxFrames + blockFrames));
            let frames = 0;
            let blocks = 0;
            while (playing.IsRunning()) {
                if (frames >= maxFrames) {
                    throw new Error(BaseName(song.name) + ' plays on past an hour (with loop count 0 a looping song ' +
                                    'never ends)');
                }
                const block = playing.Next(blockFrames);
                if (2 * (frames + blockFrames) > out.length) {
                    const grown = new Int16Array(Math.max(2 * out.length, 2 * (frames + blockFrames)));
                    grown.set(out.subarray(0, 2 * frames));
                    out = grown;
                }
                out.set(block, 2 * frames);
                frames += blockFrames;
                if (progress && ++blocks % 256 === 0) progress(Math.min(0.99, frames / expectedFrames));
            }
            if (progress) progress(1);
            return {samples: out.slice(0, 2 * frames), rate: rate};
        } finally {
            playing.Close();
        }
    }

    // The output rate `song` gets with these settings, without starting it.
    function OutputRate(song, settings) {
        ApplySettings(settings);
        const session = OpenSession(song);
        const rate = module._TamborilSampleRate(session);
        module._TamborilClose(session);
        return rate;
    }

    return {
        Info, Render, RenderOptions, Play, OutputRate,
        formats: kFormats, frequencyNames: kFrequencyNames,
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
            const result = engine.Render(request, request.options,
                                         (fraction) => scope.postMessage({id: request.id, progress: fraction}));
            scope.postMessage({id: request.id, samples: result.samples, rate: result.rate}, [result.samples.buffer]);
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
//   out: {loaded: {rate, lengthMs, playMs}} or {failed: message}; {status: {positionMs,
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
                try {
                    this.song = this.engine.Play(data.load, data.load.settings);
                    this.blockLeft = new Float32Array(this.song.blockFrames);
                    this.blockRight = new Float32Array(this.song.blockFrames);
                    this.offset = this.song.blockFrames;
                    this.endedSent = false;
                    this.Post({loaded: {rate: this.song.rate, lengthMs: this.song.lengthMs, playMs: this.song.playMs}});
                } catch (error) {
                    this.Post({failed: error.message});
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
                    const samples = this.song.Next(this.song.blockFrames);
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
