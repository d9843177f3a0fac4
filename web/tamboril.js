// window.tamboril: the engine for scripts and for the page itself.
//
//   tamboril.ready                      resolves once the engine has started
//   tamboril.info(name, bytes)          {title, lengthMs, loopFrame, form}, as
//                                       `tamboril info` reads the file; throws
//                                       an Error when the loader cannot open it
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
        try {
            engine.RenderOptions(settings);  // bad options fail here, at once
        } catch (error) {
            return Promise.reject(error);
        }
        const id = nextId++;
        return new Promise((resolve, reject) => {
            waiting.set(id, {resolve, reject, onProgress});
            Worker_().postMessage({id, name: String(name), bytes: Bytes(bytes), options: settings,
                                   companions: CompanionList()});
        });
    }

    function Info(name, bytes) {
        if (!engine) throw new Error('tamboril is not ready yet: wait for tamboril.ready');
        const added = CompanionList().map((c) => engine.AddFile(c.name, c.bytes));
        try {
            return engine.Info(String(name), Bytes(bytes));
        } finally {
            added.forEach((path) => engine.RemoveFile(path));
        }
    }

    const api = {
        ready: null,
        info: Info,
        render: (name, bytes, options) => RenderWithRate(name, bytes, options).then((result) => result.samples),
        renderWithRate: RenderWithRate,
        addFile(name, bytes) { companions.set(String(name).split(/[\\/]/).pop(), Bytes(bytes).slice()); },
        removeFile(name) { companions.delete(String(name).split(/[\\/]/).pop()); },
        // For the page: the output rate a song gets with these settings.
        outputRate(name, bytes, settings) { return engine.OutputRate(String(name), Bytes(bytes), settings); },
        settingsFor(options) { return engine.RenderOptions(options); },
        // A worklet of a page opened from a folder (origin "null") cannot load
        // a blob, but takes a data: URL.
        workletUrl() {
            return 'data:text/javascript;charset=utf-8,' +
                   encodeURIComponent(ScriptSource('(' + TamborilWorkletMain.toString() + ')();'));
        },
        companions: CompanionList,
        defaults: null,
    };
    api.ready = createTamborilEngine().then((module) => {
        engine = TamborilGlue(module);
        api.defaults = Object.assign({}, engine.defaults);
        return api;
    });
    window.tamboril = api;
})();
