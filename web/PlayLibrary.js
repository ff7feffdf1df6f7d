// The page's side of the game's program, linked in with --js-library.
mergeInto(LibraryManager.library, {
  // SDL's audio for the web calls these in the page; emscripten's own SDL would bring them along.
  zolvex_sync_storage__deps: ['$autoResumeAudioContext', '$dynCall'],
  // The page's storage: the records' folder written from or to IndexedDB, the program waiting
  // (an import asyncify is told may sleep). A page without storage keeps nothing.
  zolvex_sync_storage: function (load) {
    if (!Module.zolvexStorage) return;
    Asyncify.handleSleep(function (wakeUp) {
      FS.syncfs(!!load, function (err) {
        if (err) console.warn('zolvex: storage', err);
        wakeUp();
      });
    });
  },
});
