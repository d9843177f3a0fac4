// window.tamboril: the engine for scripts and for the page itself.
//
//   tamboril.ready                      resolves once the engine has started
//   tamboril.info(name, bytes, options)
//                                       {title, lengthMs, loopFrame, form,
//                                       playMs, tags}, as `tamboril info` reads
//                                       the file (lengthMs: one pass; loopFrame:
//                                       the loop point in the format's own
//                                       unit, 0 for none); playMs: what plays
//                                       with the loop count, fade-out and rate
//                                       of options (as render takes them; the
//                                       tool's defaults where absent), one pass
//                                       for a song that loops for ever; tags:
//                                       {track, game, system, author, date,
//                                       publisher, dumper, comment, trackJa,
//                                       gameJa, systemJa, authorJa, emulator},
//                                       strings, "" where the file has none.
//                                       Throws an Error when no format can
//                                       load it
//   tamboril.render(name, bytes, options)
//                                       Promise of an Int16Array: the whole song,
//                                       interleaved stereo, as `tamboril render`
//                                       plays it with the same options
//                                       {frequency, loopCount, fadeoutMs,
//                                       volumeFm, volumePsg, volumePcm, seekMs,
//                                       blockFrames, seekAfterFrames}; rendered
//                                       in a worker. options.onProgress(fraction)
//                                       is called along the way.
//   tamboril.addFile(name, bytes)       puts a file (an info file, NAME.GYI)
//                                       beside the songs that info and render
//                                       read, as it would lie beside them in a
//                                       folder; removeFile(name) takes it away
//   tamboril.formats                    the formats the engine plays: {name,
//                                       extensions, nameEndings, companions}
//   tamboril.isCompanion(name)          whether a file of that name is read
//                                       beside songs rather than played
//   tamboril.accept                     the file picker's list of types
//   tamboril.frequencyNames             the names the frequency option takes
//
// Bytes are a Uint8Array or an ArrayBuffer.
(function () {
    'use strict';

    // The engine's factory, the glue and a main function as the text of one
    // script, for a worker or the worklet, so that nothing is loaded from a
    // file (which a page opened from a folder may not do).
    function ScriptSource(main) {
        return 'var _scriptDir = undefined;\n' +
            'var createTamborilEngine = (' + createTamborilEngine.toString() + ');\n' +
            TamborilGlue.toString() + '\n' +
            main;
    }

    // A worker takes its script from a blob, wherever the page came from.
    function ScriptUrl(main) {
        return URL.createObjectURL(new Blob([ScriptSource(main)], {type: 'text/javascript'}));
    }

    let engine = null;
    const companions = new Map();  // name -> bytes, written beside every song
    let worker = null;
    let nextId = 1;
    const waiting = new Map();     // request id -> {resolve, reject, onProgress}

    function Bytes(bytes) {
        if (bytes instanceof Uint8Array) return bytes;
        if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
        if (ArrayBuffer.isView(bytes)) return new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
        throw new TypeError('bytes must be a Uint8Array or an ArrayBuffer');
    }

    function Worker_() {
        if (worker) return worker;
        worker = new Worker(ScriptUrl('(' + TamborilRenderWorker.toString() + ')(self);'));
        worker.onmessage = (event) => {
            const reply = event.data;
            const request = waiting.get(reply.id);
            if (!request) return;
            if (reply.progress !== undefined) {
                if (request.onProgress) request.onProgress(reply.progress);
                return;
            }
            waiting.delete(reply.id);
            // An engine that trapped is not used again: the requests still
            // waiting fail, and the next render starts a new worker.
            if (reply.kind === 'RuntimeError') {
                worker.terminate();
                worker = null;
                waiting.forEach((other) => other.reject(new Error('the render worker stopped: ' + reply.error)));
                waiting.clear();
            }
            if (reply.error !== undefined) {
                const error = reply.kind === 'RangeError' ? new RangeError(reply.error) : new Error(reply.error);
                request.reject(error);
            } else {
                request.resolve({samples: reply.samples, rate: reply.rate});
            }
        };
        worker.onerror = (event) => {
            event.preventDefault();
            const error = new Error('the render worker failed: ' + event.message);
            waiting.forEach((request) => request.reject(error));
            waiting.clear();
            worker.terminate();
            worker = null;
        };
        return worker;
    }

    function CompanionList() {
        return Array.from(companions, ([name, bytes]) => ({name, bytes}));
    }

    // The whole song and its rate: {samples, rate}.
    function RenderWithRate(name, bytes, options) {
        const settings = Object.assign({}, options || {});
        const onProgress = settings.onProgress;
        delete settings.onProgress;
        let request;
        try {
            request = Object.assign({id: nextId++, options: settings}, Song(name, bytes));
            engine.RenderOptions(settings);  // bad options fail here, at once
        } catch (error) {
            return Promise.reject(error);
        }
        return new Promise((resolve, reject) => {
            waiting.set(request.id, {resolve, reject, onProgress});
            Worker_().postMessage(request);
        });
    }

    // A song as the engine takes it: with every file put beside the songs.
    function Song(name, bytes) {
        if (!engine) throw new Error('tamboril is not ready yet: wait for tamboril.ready');
        return {name: String(name), bytes: Bytes(bytes), companions: CompanionList()};
    }

    const BaseName = (name) => String(name).split(/[\\/]/).pop();

    // The extension of a file's name, upper case and without its dot.
    function Extension(name) {
        const base = BaseName(name);
        const dot = base.lastIndexOf('.');
        return dot < 0 ? '' : base.slice(dot + 1).toUpperCase();
    }

    function IsCompanion(name) {
        const extension = Extension(name);
        return extension !== '' && engine.formats.some((format) => format.companions.includes(extension));
    }

    // Every extension of the format list, as a file picker's accept list. A
    // browser matches a name's last extension only: of a name ending
    // (".GYM.ZIP") that is taken.
    function AcceptList() {
        const list = [];
        for (const format of engine.formats) {
            const endings = format.nameEndings.map((ending) => ending.slice(ending.lastIndexOf('.') + 1));
            for (const extension of [...format.extensions, ...endings, ...format.companions]) {
                const entry = '.' + extension.toLowerCase();
                if (!list.includes(entry)) list.push(entry);
            }
        }
        return list.join(',');
    }

    // A song's name without its extension, or without the name ending a
    // format claims ("tune.gym.zip": "tune"), as the tool names its WAV.
    function Stem(name) {
        const text = String(name);
        const upper = text.toUpperCase();
        const ending = engine.formats.flatMap((format) => format.nameEndings).find((e) => upper.endsWith(e));
        const cut = ending ? text.length - ending.length : text.lastIndexOf('.');
        return cut > 0 ? text.slice(0, cut) : text;
    }

    const api = {
        ready: null,
        info: (name, bytes, options) => engine.Info(Song(name, bytes), options),
        render: (name, bytes, options) => RenderWithRate(name, bytes, options).then((result) => result.samples),
        renderWithRate: RenderWithRate,
        addFile(name, bytes) { companions.set(BaseName(name), Bytes(bytes).slice()); },
        removeFile(name) { companions.delete(BaseName(name)); },
        // For the page: the output rate a song gets with these settings.
        outputRate(name, bytes, settings) { return engine.OutputRate(Song(name, bytes), settings); },
        settingsFor(options) { return engine.RenderOptions(options); },
        // A worklet of a page opened from a folder (origin "null") cannot load
        // a blob, but takes a data: URL.
        workletUrl() {
            return 'data:text/javascript;charset=utf-8,' +
                   encodeURIComponent(ScriptSource('(' + TamborilWorkletMain.toString() + ')();'));
        },
        companions: CompanionList,
        isCompanion: IsCompanion,
        // For the page: a song's name for its WAV file, without extension.
        stem: Stem,
        defaults: null,
        formats: null,
        accept: null,
        frequencyNames: null,
    };
    api.ready = createTamborilEngine().then((module) => {
        engine = TamborilGlue(module);
        api.defaults = Object.assign({}, engine.defaults);
        api.formats = engine.formats;
        api.accept = AcceptList();
        api.frequencyNames = engine.frequencyNames.slice();
        return api;
    });
    window.tamboril = api;
})();
