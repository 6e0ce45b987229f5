/* Search Sandbox: the page a person opens first to try the service.
 *
 * Plain script, no framework and no build step: it talks to the JSON API on
 * the same origin (every call is one CGI process on the server, so the page
 * asks only for what it shows). Everything that came from the server is put
 * on the page as text, never as markup.
 *
 * Search runs as the person types. Replies can arrive out of order (each
 * request is its own process), so every search carries a sequence number and
 * a reply is drawn only when nothing newer is already on screen.
 *
 * Documents keep their numbers exactly as stored (1.50 stays 1.50, ids beyond
 * 2^53 stay whole): the viewer re-indents the stored text instead of
 * re-serialising it, and search replies keep each number's source text. */
'use strict';

(function () {
  const KEY_STORE = 'korrin.masterKey';
  const SEARCH_DELAY_MS = 150;
  const UID_RULE = /^[A-Za-z0-9_-]{1,127}$/;

  const $ = (id) => document.getElementById(id);

  const state = {
    indexes: [],          // [{uid, primaryKey, count}]
    current: null,        // uid of the chosen index
    primaryKey: 'id',
    offset: 0,
    limit: 10,
    searchSeq: 0,         // number of the latest search sent
    shownSeq: 0,          // number of the search whose reply is on screen
    listSeq: 0,
    pending: 0,           // searches sent and not answered yet
    timer: 0,
    openDoc: null,        // {uid, id} shown in the document dialog
    keyPrompt: null,      // the pending master-key question, shared by callers
    keyDeclined: false,
  };

  /* ---- numbers kept as written ------------------------------------- */

  // A JSON number whose source text is kept; shown and sent as that text.
  function RawNumber(text) { this.text = text; }
  RawNumber.prototype.toString = function () { return this.text; };

  // Parses JSON, keeping every number's source text where the browser can
  // tell it (JSON.parse source access); older browsers get plain numbers.
  function parseKeepingNumbers(text) {
    return JSON.parse(text, function (key, value, context) {
      if (typeof value === 'number' && context && typeof context.source === 'string') {
        return new RawNumber(context.source);
      }
      return value;
    });
  }

  // Re-indents JSON text token by token: strings and numbers stay byte for
  // byte as the server sent them. Returns the text unchanged if it is not
  // well-formed enough to indent.
  function indentJson(text) {
    let out = '';
    let depth = 0;
    let i = 0;
    const pad = () => '\n' + '  '.repeat(depth);
    while (i < text.length) {
      const c = text[i];
      if (c === '"') {
        let j = i + 1;
        while (j < text.length && text[j] !== '"') j += text[j] === '\\' ? 2 : 1;
        out += text.slice(i, j + 1);
        i = j + 1;
        continue;
      }
      if (c === '{' || c === '[') {
        const close = c === '{' ? '}' : ']';
        let k = i + 1;
        while (k < text.length && /\s/.test(text[k])) k++;
        if (text[k] === close) { out += c + close; i = k + 1; continue; }
        depth++;
        out += c + pad();
      } else if (c === '}' || c === ']') {
        depth = Math.max(0, depth - 1);
        out += pad() + c;
      } else if (c === ',') {
        out += ',' + pad();
      } else if (c === ':') {
        out += ': ';
      } else if (!/\s/.test(c)) {
        out += c;
      }
      i++;
    }
    return depth === 0 ? out : text;
  }

  function show(value) {
    if (value instanceof RawNumber) return value.text;
    if (typeof value === 'string') return value;
    return JSON.stringify(value, (k, v) => (v instanceof RawNumber ? Number(v.text) : v));
  }

  /* ---- talking to the API ------------------------------------------ */

  function storedKey() {
    try { return sessionStorage.getItem(KEY_STORE) || ''; } catch (e) { return ''; }
  }

  function apiError(message, status, code) {
    const err = new Error(message);
    err.status = status;
    err.code = code || '';
    return err;
  }

  function envelopeMessage(status, data) {
    if (data && typeof data.message === 'string' && data.message) return data.message;
    return 'The server answered HTTP ' + status + ' without an explanation.';
  }

  // One API call. Resolves to {status, data, text}; rejects with an Error
  // whose message is the error envelope's message. A 401 or 403 asks the
  // person for the master key (once, shared by concurrent calls) and retries.
  async function api(method, path, options) {
    const opts = options || {};
    for (;;) {
      const used = storedKey();
      const headers = {};
      if (opts.body !== undefined) headers['Content-Type'] = opts.type || 'application/json';
      if (used) headers.Authorization = 'Bearer ' + used;
      let res;
      try {
        res = await fetch(path, { method: method, headers: headers, body: opts.body, cache: 'no-store' });
      } catch (err) {
        setBadge('down', 'Unreachable');
        throw apiError('The service cannot be reached.', 0, 'network_error');
      }
      const text = await res.text();
      let data = null;
      try { data = text ? (opts.raw ? JSON.parse(text) : parseKeepingNumbers(text)) : null; } catch (e) { data = null; }
      if (res.status === 401 || res.status === 403) {
        if (storedKey() !== used) continue;           // a key was entered meanwhile
        if (used) forgetKey();                        // refused: never send it again
        // Asked again after each refusal, until the person cancels.
        if (await obtainKey(res.status, data, used)) continue;
        $('key-button').hidden = false;
      }
      if (!res.ok) throw apiError(envelopeMessage(res.status, data), res.status, data && data.code);
      return { status: res.status, data: data, text: text };
    }
  }

  const indexPath = (uid) => '/indexes/' + encodeURIComponent(uid);
  // A path segment holds at most 127 bytes, an id up to 511: a longer id
  // goes in the query, which the documents routes read the same way.
  const docPath = (uid, id) => indexPath(uid) + '/documents' +
    (new TextEncoder().encode(String(id)).length > 127 ? '?id=' : '/') + encodeURIComponent(id);

  /* ---- master key --------------------------------------------------- */

  function forgetKey() {
    try { sessionStorage.removeItem(KEY_STORE); } catch (e) { /* storage off: nothing kept */ }
  }

  function obtainKey(status, data, used) {
    if (state.keyDeclined) return Promise.resolve(false);
    if (!state.keyPrompt) {
      const reason = used
        ? 'The key was refused: ' + envelopeMessage(status, data) + ' Enter the right master key.'
        : 'This service is protected. Enter its master key; it is kept for this tab only.';
      state.keyPrompt = askForKey(reason).finally(() => { state.keyPrompt = null; });
    }
    return state.keyPrompt;
  }

  function askForKey(reason) {
    const dialog = $('key-dialog');
    $('key-reason').textContent = reason;
    $('key-input').value = '';
    dialog.returnValue = '';
    return new Promise((resolve) => {
      dialog.addEventListener('close', function onClose() {
        dialog.removeEventListener('close', onClose);
        const ok = dialog.returnValue === 'ok';
        state.keyDeclined = !ok;
        $('key-button').hidden = ok;
        resolve(ok);
      });
      dialog.showModal();
      $('key-input').focus();
    });
  }

  function wireKeyDialog() {
    const dialog = $('key-dialog');
    $('key-form').addEventListener('submit', (ev) => {
      ev.preventDefault();
      const key = $('key-input').value.trim();
      if (!key) { $('key-reason').textContent = 'Enter the master key, or cancel.'; return; }
      try { sessionStorage.setItem(KEY_STORE, key); } catch (e) { /* kept nowhere: asked again */ }
      dialog.close('ok');
    });
    $('key-cancel').addEventListener('click', () => dialog.close('cancel'));
    $('key-button').addEventListener('click', async () => {
      state.keyDeclined = false;
      if (await obtainKey(401, null, '')) { say('index-msg', '', ''); loadIndexes(); checkStatus(); }
    });
  }

  /* ---- status badge ------------------------------------------------- */

  function setBadge(kind, text) {
    const badge = $('status-badge');
    badge.classList.remove('checking', 'down');
    if (kind !== 'ok') badge.classList.add(kind);
    $('status-text').textContent = text;
    badge.setAttribute('aria-label', 'Service status: ' + text + '. Open the status page.');
  }

  async function checkStatus() {
    try {
      const res = await fetch('/status?format=json', { cache: 'no-store' });
      const data = await res.json();
      if (res.ok && data && data.status === 'available') {
        setBadge('ok', 'Available' + (data.version ? ' \u00b7 v' + data.version : ''));
      } else {
        setBadge('down', 'Unavailable');
      }
    } catch (e) {
      setBadge('down', 'Unreachable');
    }
  }

  /* ---- messages ----------------------------------------------------- */

  function say(id, text, kind) {
    const el = $(id);
    el.textContent = text;
    el.classList.toggle('ok', kind === 'ok');
    el.classList.toggle('err', kind === 'err');
  }

  const plural = (n, one, many) => n + ' ' + (n === 1 ? one : many);

  /* ---- indexes ------------------------------------------------------ */

  async function loadIndexes() {
    const seq = ++state.listSeq;
    let reply;
    try {
      reply = await api('GET', '/indexes');
    } catch (err) {
      if (seq === state.listSeq) say('index-msg', err.message, 'err');
      return;
    }
    if (seq !== state.listSeq) return;
    const results = reply.data && Array.isArray(reply.data.results) ? reply.data.results : [];
    state.indexes = results
      .map((r) => ({
        uid: String(r.uid || r.name || ''),
        primaryKey: String(r.primaryKey || r.primary_key || 'id'),
        count: null,
      }))
      .filter((e) => e.uid);
    if (state.current && !state.indexes.some((e) => e.uid === state.current)) choose(null);
    if (!state.current) {
      let wanted = '';
      try { wanted = decodeURIComponent(location.hash.slice(1)); } catch (e) { /* a hand-typed bad hash */ }
      const pick = state.indexes.find((e) => e.uid === wanted) || state.indexes[0];
      if (pick) choose(pick.uid);
    } else {
      const cur = state.indexes.find((e) => e.uid === state.current);
      state.primaryKey = cur.primaryKey;
    }
    renderIndexes();
    state.indexes.forEach(loadCount);
  }

  async function loadCount(entry) {
    try {
      const reply = await api('GET', indexPath(entry.uid) + '/stats');
      const n = reply.data && reply.data.numberOfDocuments;
      entry.count = n === undefined || n === null ? null : Number(show(n));
    } catch (e) {
      entry.count = null;
    }
    const el = document.querySelector('.index-count[data-uid="' + CSS.escape(entry.uid) + '"]');
    if (el) el.textContent = entry.count === null ? 'count unknown' : plural(entry.count, 'document', 'documents');
  }

  function renderIndexes() {
    const list = $('index-list');
    const focused = document.activeElement && document.activeElement.closest('.index-item');
    const focusUid = focused ? focused.dataset.uid : null;
    list.replaceChildren();
    for (const entry of state.indexes) list.appendChild(indexItem(entry));
    $('index-empty').hidden = state.indexes.length > 0;
    if (focusUid) {
      const again = list.querySelector('.index-item[data-uid="' + CSS.escape(focusUid) + '"] .index-pick');
      if (again) again.focus();
    }
  }

  function indexItem(entry) {
    const li = document.createElement('li');
    li.className = 'index-item';
    li.dataset.uid = entry.uid;

    const pick = document.createElement('button');
    pick.type = 'button';
    pick.className = 'index-pick';
    pick.setAttribute('aria-pressed', String(entry.uid === state.current));
    const name = document.createElement('span');
    name.className = 'index-uid';
    name.textContent = entry.uid;
    const meta = document.createElement('span');
    meta.className = 'index-meta';
    const keyLabel = document.createElement('span');
    keyLabel.className = 'key';
    keyLabel.textContent = 'primary key ';
    const count = document.createElement('span');
    count.className = 'index-count';
    count.dataset.uid = entry.uid;
    count.textContent = entry.count === null ? '\u2026' : plural(entry.count, 'document', 'documents');
    meta.append(keyLabel, entry.primaryKey + ' \u00b7 ', count);
    pick.append(name, meta);
    pick.addEventListener('click', () => { choose(entry.uid); renderIndexes(); });

    const del = document.createElement('button');
    del.type = 'button';
    del.className = 'danger small';
    del.textContent = 'Delete';
    del.setAttribute('aria-label', 'Delete index ' + entry.uid);
    del.addEventListener('click', () => confirmIndexDelete(li, del, entry.uid));

    li.append(pick, del);
    return li;
  }

  // Deleting an index loses every document in it: ask on the spot, with
  // both answers reachable by keyboard, instead of a blocking browser prompt.
  function confirmIndexDelete(li, del, uid) {
    const box = document.createElement('div');
    box.className = 'index-confirm';
    const yes = document.createElement('button');
    yes.type = 'button';
    yes.className = 'danger small';
    yes.textContent = 'Confirm';
    yes.setAttribute('aria-label', 'Confirm deleting index ' + uid + ' and all its documents');
    const no = document.createElement('button');
    no.type = 'button';
    no.className = 'ghost small';
    no.textContent = 'Cancel';
    no.setAttribute('aria-label', 'Keep index ' + uid);
    box.append(yes, no);
    del.replaceWith(box);
    yes.focus();
    no.addEventListener('click', () => { box.replaceWith(del); del.focus(); });
    yes.addEventListener('click', async () => {
      yes.disabled = no.disabled = true;
      try {
        await api('DELETE', indexPath(uid));
        say('index-msg', 'Index ' + uid + ' deleted.', 'ok');
        if (state.current === uid) choose(null);
        await loadIndexes();
        const first = document.querySelector('.index-pick');
        (first || $('create-uid')).focus();
      } catch (err) {
        say('index-msg', err.message, 'err');
        box.replaceWith(del);
        del.focus();
      }
    });
  }

  function choose(uid) {
    const entry = uid ? state.indexes.find((e) => e.uid === uid) : null;
    state.current = entry ? entry.uid : null;
    state.primaryKey = entry ? entry.primaryKey : 'id';
    state.offset = 0;
    state.shownSeq = state.searchSeq;     // replies for the previous index are stale
    const label = state.current || 'no index chosen';
    $('docs-target').textContent = label;
    $('search-target').textContent = label;
    $('search-input').disabled = !state.current;
    $('page-size').disabled = !state.current;
    history.replaceState(null, '', state.current ? '#' + encodeURIComponent(state.current) : location.pathname);
    if (state.current) {
      runSearch();
    } else {
      $('hits').replaceChildren();
      $('search-summary').textContent = 'Choose an index to search it.';
      $('search-summary').classList.remove('err');
      updatePager(0, 0);
    }
  }

  function wireCreate() {
    $('create-form').addEventListener('submit', async (ev) => {
      ev.preventDefault();
      const uid = $('create-uid').value.trim();
      const primaryKey = $('create-pk').value.trim();
      if (!UID_RULE.test(uid)) {
        say('create-msg', 'An index uid is 1 to 127 letters, digits, \'-\' or \'_\'.', 'err');
        $('create-uid').focus();
        return;
      }
      const body = { uid: uid };
      if (primaryKey) body.primaryKey = primaryKey;
      try {
        const reply = await api('POST', '/indexes', { body: JSON.stringify(body) });
        const made = reply.data || {};
        say('create-msg', 'Index ' + (made.uid || uid) + ' created (primary key ' +
            (made.primaryKey || primaryKey || 'id') + ').', 'ok');
        $('create-uid').value = '';
        $('create-pk').value = '';
        await loadIndexes();
        choose(uid);
        renderIndexes();
      } catch (err) {
        say('create-msg', err.message, 'err');
      }
    });
  }

  /* ---- adding documents -------------------------------------------- */

  async function addDocuments(body, type, what) {
    if (!state.current) { say('docs-msg', 'Choose or create an index first.', 'err'); return; }
    const uid = state.current;
    say('docs-msg', 'Adding ' + what + '\u2026', '');
    try {
      const reply = await api('POST', indexPath(uid) + '/documents', { body: body, type: type });
      const added = reply.data && reply.data.added !== undefined ? Number(show(reply.data.added)) : 0;
      say('docs-msg', 'Added ' + plural(added, 'document', 'documents') + ' to ' + uid + '.', 'ok');
      const entry = state.indexes.find((e) => e.uid === uid);
      if (entry) loadCount(entry);
      if (state.current === uid) runSearch();
      return true;
    } catch (err) {
      say('docs-msg', err.message, 'err');
      return false;
    }
  }

  function wireDocuments() {
    $('docs-form').addEventListener('submit', async (ev) => {
      ev.preventDefault();
      const text = $('docs-text').value;
      if (!text.trim()) { say('docs-msg', 'Paste a JSON array, an object or NDJSON first.', 'err'); return; }
      if (await addDocuments(text, 'application/json', 'the pasted documents')) $('docs-text').value = '';
    });
    $('docs-file').addEventListener('change', async () => {
      const input = $('docs-file');
      const file = input.files && input.files[0];
      if (!file) return;
      const ndjson = /\.(ndjson|jsonl)$/i.test(file.name);
      // The file goes as it is: the browser streams it from disk.
      await addDocuments(file, ndjson ? 'application/x-ndjson' : 'application/json', file.name);
      input.value = '';
    });
  }

  /* ---- search ------------------------------------------------------- */

  function scheduleSearch() {
    clearTimeout(state.timer);
    state.offset = 0;
    state.timer = setTimeout(runSearch, SEARCH_DELAY_MS);
  }

  async function runSearch() {
    clearTimeout(state.timer);
    if (!state.current) return;
    const seq = ++state.searchSeq;
    const uid = state.current;
    const q = $('search-input').value;
    const limit = state.limit;
    const offset = state.offset;
    setPending(+1);
    const path = indexPath(uid) + '/search?q=' + encodeURIComponent(q) + '&limit=' + limit + '&offset=' + offset;
    let reply = null;
    let failure = null;
    try { reply = await api('GET', path); } catch (err) { failure = err; }
    try {
      if (seq <= state.shownSeq) return;  // a newer reply is already on screen
      state.shownSeq = seq;
      drawSearchReply(reply, failure, uid, q, limit, offset);
    } finally {
      setPending(-1);
    }
  }

  // Searches still waiting for a reply: the results are marked busy for
  // assistive technology meanwhile, and the count is on the card.
  function setPending(delta) {
    state.pending += delta;
    $('search-card').dataset.pending = String(state.pending);
    if (state.pending > 0) $('hits').setAttribute('aria-busy', 'true');
    else $('hits').removeAttribute('aria-busy');
  }

  function drawSearchReply(reply, failure, uid, q, limit, offset) {
    if (failure) {
      $('hits').replaceChildren();
      $('search-summary').textContent = failure.message;
      $('search-summary').classList.add('err');
      updatePager(0, 0);
      return;
    }
    renderHits(reply.data || {}, uid, q, limit, offset);
  }

  function renderHits(data, uid, q, limit, offset) {
    const hits = Array.isArray(data.hits) ? data.hits : [];
    const totalRaw = data.estimatedTotalHits !== undefined ? data.estimatedTotalHits : hits.length;
    const total = Number(show(totalRaw));
    const ms = data.processingTimeMs !== undefined ? show(data.processingTimeMs) : '?';
    const summary = $('search-summary');
    summary.classList.remove('err');
    summary.replaceChildren();
    const count = document.createElement('strong');
    count.textContent = (total > 1000 ? 'about ' : '') + total.toLocaleString('en');
    const what = q.trim()
      ? (total === 1 ? ' hit' : ' hits') + ' for \u201c' + q + '\u201d'
      : (total === 1 ? ' document' : ' documents');
    summary.append(count, what + ' in ' + ms + ' ms');
    $('hits').replaceChildren(...hits.map((hit, i) => hitCard(hit, uid, offset + i)));
    updatePager(total, hits.length, limit, offset);
  }

  function hitCard(hit, uid, position) {
    const li = document.createElement('li');
    li.className = 'hit';
    const art = document.createElement('article');
    const pk = state.primaryKey;
    const idValue = hit && typeof hit === 'object' ? hit[pk] : undefined;
    const id = idValue === undefined || idValue === null ? null : show(idValue);
    const strings = Object.keys(hit || {}).filter((k) => k !== pk && typeof hit[k] === 'string' && hit[k].trim());
    const titleKey = strings[0];
    const textKey = strings[1];

    const head = document.createElement('div');
    head.className = 'hit-head';
    const title = document.createElement('h3');
    title.className = 'hit-title';
    title.id = 'hit-title-' + position;
    title.textContent = titleKey ? hit[titleKey] : id !== null ? 'Document ' + id : 'Document';
    art.setAttribute('aria-labelledby', title.id);
    head.append(title);
    if (id !== null) {
      const idEl = document.createElement('span');
      idEl.className = 'hit-id';
      idEl.textContent = pk + ' ' + id;
      head.append(idEl);
    }
    art.append(head);

    if (textKey) {
      const text = document.createElement('p');
      text.className = 'hit-text';
      text.textContent = hit[textKey];
      art.append(text);
    }

    const foot = document.createElement('div');
    foot.className = 'hit-foot';
    const rest = Object.keys(hit || {}).filter((k) => k !== titleKey && k !== textKey);
    if (rest.length) {
      const details = document.createElement('details');
      const sum = document.createElement('summary');
      sum.textContent = plural(rest.length, 'more attribute', 'more attributes');
      const dl = document.createElement('dl');
      dl.className = 'attrs';
      for (const k of rest) {
        const dt = document.createElement('dt');
        dt.textContent = k;
        const dd = document.createElement('dd');
        dd.textContent = show(hit[k]);
        dl.append(dt, dd);
      }
      details.append(sum, dl);
      foot.append(details);
    } else {
      foot.append(document.createElement('span'));
    }
    if (id !== null) {
      const open = document.createElement('button');
      open.type = 'button';
      open.className = 'ghost small';
      open.textContent = 'Open';
      open.setAttribute('aria-label', 'Open document ' + id);
      open.addEventListener('click', () => openDocument(uid, id));
      foot.append(open);
    }
    art.append(foot);
    li.append(art);
    return li;
  }

  function updatePager(total, shown, limit, offset) {
    const prev = $('prev-page');
    const next = $('next-page');
    if (!limit) {
      $('pager').hidden = true;
      prev.disabled = next.disabled = true;
      $('page-info').textContent = '';
      return;
    }
    const pages = Math.max(1, Math.ceil(total / limit));
    const page = Math.floor(offset / limit) + 1;
    $('pager').hidden = pages <= 1 && offset === 0;
    prev.disabled = offset <= 0;
    next.disabled = offset + shown >= total || shown < limit;
    $('page-info').textContent = shown
      ? 'Page ' + page + ' of ' + pages + ' (' + (offset + 1) + '\u2013' + (offset + shown) + ')'
      : pages > 1 || offset > 0 ? 'Page ' + page + ' of ' + pages : '';
  }

  function wireSearch() {
    $('search-form').addEventListener('submit', (ev) => { ev.preventDefault(); state.offset = 0; runSearch(); });
    $('search-input').addEventListener('input', scheduleSearch);
    $('page-size').addEventListener('change', () => {
      state.limit = Number($('page-size').value) || 10;
      state.offset = 0;
      runSearch();
    });
    $('prev-page').addEventListener('click', () => {
      state.offset = Math.max(0, state.offset - state.limit);
      runSearch();
    });
    $('next-page').addEventListener('click', () => {
      state.offset += state.limit;
      runSearch();
    });
    // "/" jumps to the search box from anywhere outside a text field.
    document.addEventListener('keydown', (ev) => {
      if (ev.key !== '/' || ev.ctrlKey || ev.metaKey || ev.altKey) return;
      const t = ev.target;
      if (t && (t.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(t.tagName))) return;
      if ($('search-input').disabled) return;
      ev.preventDefault();
      $('search-input').focus();
    });
  }

  /* ---- one document ------------------------------------------------- */

  async function openDocument(uid, id) {
    const dialog = $('doc-dialog');
    state.openDoc = { uid: uid, id: id };
    $('doc-title').textContent = 'Document ' + id;
    $('doc-json').textContent = 'Loading\u2026';
    resetDeleteButton();
    $('doc-delete').disabled = true;
    say('doc-msg', '', '');
    if (!dialog.open) dialog.showModal();
    try {
      const reply = await api('GET', docPath(uid, id), { raw: true });
      if (!state.openDoc || state.openDoc.id !== id) return;
      $('doc-json').textContent = indentJson(reply.text.trim());
      $('doc-delete').disabled = false;
    } catch (err) {
      $('doc-json').textContent = '';
      say('doc-msg', err.message, 'err');
    }
    $('doc-close').focus();
  }

  function resetDeleteButton() {
    const btn = $('doc-delete');
    btn.dataset.armed = '';
    btn.textContent = 'Delete document';
  }

  function wireDocumentDialog() {
    const dialog = $('doc-dialog');
    $('doc-close').addEventListener('click', () => dialog.close());
    dialog.addEventListener('close', () => { state.openDoc = null; });
    $('doc-delete').addEventListener('click', async () => {
      const btn = $('doc-delete');
      const doc = state.openDoc;
      if (!doc) return;
      if (!btn.dataset.armed) {
        btn.dataset.armed = '1';
        btn.textContent = 'Confirm delete';
        say('doc-msg', 'Press \u201cConfirm delete\u201d to remove document ' + doc.id + ' for good.', '');
        return;
      }
      btn.disabled = true;
      try {
        await api('DELETE', docPath(doc.uid, doc.id));
        resetDeleteButton();
        $('doc-json').textContent = '';
        say('doc-msg', 'Document ' + doc.id + ' deleted.', 'ok');
        const entry = state.indexes.find((e) => e.uid === doc.uid);
        if (entry) loadCount(entry);
        if (state.current === doc.uid) runSearch();
        $('doc-close').focus();
      } catch (err) {
        resetDeleteButton();
        btn.disabled = false;
        say('doc-msg', err.message, 'err');
      }
    });
  }

  /* ---- start -------------------------------------------------------- */

  function start() {
    wireKeyDialog();
    wireCreate();
    wireDocuments();
    wireSearch();
    wireDocumentDialog();
    $('refresh-indexes').addEventListener('click', () => { say('index-msg', '', ''); loadIndexes(); });
    checkStatus();
    loadIndexes();
  }

  start();
}());
