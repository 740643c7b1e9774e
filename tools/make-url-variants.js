#!/usr/bin/env node
// Variants of the real Steam and Discord authorisation URLs, each with the host and path a browser's
// URL parser (WHATWG, as Node's URL implements it) reads from it. The launcher's rule is held against
// them: it may accept a variant only when a browser would open the real page.
//
//   node tools/make-url-variants.js                 the fixture the test suite reads (stdout)
//   node tools/make-url-variants.js --count 50000   a larger random sample for a run by hand
//
// Output: a JSON array of {"provider", "url", "protocol", "host", "path", "shell_safe"}; host is null
// when the browser cannot parse the URL at all; shell_safe tells whether the text may be handed to the
// Windows shell (see shellSafe). Deterministic for a given --count and --seed.
'use strict';

const providers = {
    steam: { host: 'steamcommunity.com', path: '/openid/login', query: 'openid.mode=checkid_setup' },
    discord: { host: 'discord.com', path: '/oauth2/authorize', query: 'state=one-time' },
};

function fullWidth(text) {
    return [...text].map((c) => (c >= '!' && c <= '~' ? String.fromCodePoint(c.codePointAt(0) + 0xfee0) : c)).join('');
}

function pieces(p) {
    const [label, tld] = [p.host.slice(0, p.host.lastIndexOf('.')), p.host.slice(p.host.lastIndexOf('.') + 1)];
    const segments = p.path.split('/').filter(Boolean);
    const firstSegment = segments[0];
    const lastSegment = segments[segments.length - 1];
    return {
        scheme: ['https://', 'HTTPS://', 'https:/', 'https:', 'https:///', 'https:\\\\', 'https:/\\', 'http://',
            'hTTps://', 'https://\t', ' https://'],
        userinfo: ['', '@', ':@', 'user@', 'user:pass@', 'a@b@', '%40@', `${p.host}@`, `${p.host}:443@`,
            '\\@', 'user%3Apass@', '@@'],
        host: [p.host, p.host.toUpperCase(), `${p.host}.`, `www.${p.host}`, `${p.host}.evil.com`, 'evil.com',
            `${label}%2E${tld}`, `${label}\u3002${tld}`, fullWidth(p.host), `${label}.${fullWidth(tld)}`,
            `${label.slice(0, 2)}\u00ad${label.slice(2)}.${tld}`, `${label.slice(0, 2)}\u200b${label.slice(2)}.${tld}`,
            `xn--${label}.${tld}`, `${label}.${tld}%00`, `${p.host}\u0130`, `${label.toUpperCase()}\u212a.${tld}`,
            '127.0.0.1', '[::1]', `${p.host}%2F`, `${label}.${tld}\t`, `${p.host}.\u3002`],
        port: ['', ':443', ':0443', ':443evil', ':443;', ':443,evil.com', ':443\u200b', ':', ':80', ':8443',
            ':443.evil.com', ':65979', ':443 ', ':0', ':4\t43', ':+443', ':44\u0663'],
        between: ['', '@evil.com', '\\evil.com', '.evil.com', '/..', '/.', '%2F', '\\', '/evil.com/..', ':443',
            '@', '\\\\evil.com', '%5C'],
        path: [p.path, p.path.toUpperCase(), `${p.path}/`, `/${firstSegment}/./${lastSegment}`,
            `/${firstSegment}/../${firstSegment}/${lastSegment}`, `/${firstSegment}/%2e%2e/${firstSegment}/${lastSegment}`,
            p.path.replace(/\//g, '\\'), `/${p.path}`, `${p.path};x`, `${p.path}%00`, `${p.path}/..`,
            `/${firstSegment}/${lastSegment.replace(lastSegment[0], '%' + lastSegment.charCodeAt(0).toString(16))}`,
            `${p.path}\t`, `/${firstSegment}/${lastSegment.slice(0, 2)}\n${lastSegment.slice(2)}`, `${p.path}.`,
            `${p.path}%20`, `/${firstSegment}/.%2e/${firstSegment}/${lastSegment}`, `${p.path}\u200b`, ''],
        query: [`?${p.query}`, '?', '', `??${p.query}`, `?${p.query}#frag`, `#?${p.query}`, `?${p.query}\\evil`,
            `?${p.query}@evil.com`, `?${p.query}\u200b`, `?${p.query}/../evil`, `?${p.query} x`, `%3F${p.query}`,
            // Texts that break a browser's "%1" quoting or that Wine's shell mangles or overflows on.
            `?${p.query}&a="%20--new-window%20"https://x/`, `?${p.query}&a=\\b`, `?${p.query}&a=^b`,
            `?${p.query}&a=|b`, `?${p.query}&a=<b>`, `?${p.query}&a={b}`, `?${p.query}&a=\`b\``,
            `?${p.query}&a=100%`, `?${p.query}&a=%zz`, `?${p.query}&a=%4`, `?${p.query}&a=%41%2f`,
            `?${p.query}&a=\u202eb`, `?${p.query}&a=\u3000b`, `?${p.query}&a=caf\u00e9`,
            `?${p.query}&pad=${'p'.repeat(840)}`, `?${p.query}&pad=${'p'.repeat(1000)}`],
    };
}

const dimensions = ['scheme', 'userinfo', 'host', 'port', 'between', 'path', 'query'];

function build(choice, p) {
    const parts = pieces(p);
    return dimensions.map((d) => parts[d][choice[d]]).join('');
}

// A small linear congruential generator: the same seed gives the same fixture on every machine.
function random(seed) {
    let state = seed >>> 0;
    return (n) => {
        state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
        return state % n;
    };
}

function* variants(p, count, seed) {
    const parts = pieces(p);
    const base = Object.fromEntries(dimensions.map((d) => [d, 0]));
    // Every single change from the real URL, crafted mixes, then a sample of pairs and random mixes.
    for (const d of dimensions)
        for (let i = 0; i < parts[d].length; ++i)
            yield { ...base, [d]: i };
    const pairs = [];
    for (let a = 0; a < dimensions.length; ++a)
        for (let b = a + 1; b < dimensions.length; ++b)
            for (let i = 1; i < parts[dimensions[a]].length; ++i)
                for (let j = 1; j < parts[dimensions[b]].length; ++j)
                    pairs.push({ ...base, [dimensions[a]]: i, [dimensions[b]]: j });
    // What stands between the host and the path decides where the two parsers part: every such text
    // with the userinfo and port forms that moved the host in earlier runs.
    for (const userinfo of [0, 1, 2, 4, 7])
        for (const port of [0, 1, 3])
            for (let between = 0; between < parts.between.length; ++between)
                for (const query of [0, 2])
                    yield { ...base, userinfo, port, between, query };
    const next = random(seed);
    for (const pair of pairs)
        if (next(pairs.length) < count)
            yield pair;
    for (let k = 0; k < count; ++k)
        yield Object.fromEntries(dimensions.map((d) => [d, next(2) === 0 ? 0 : next(parts[d].length)]));
}

// What the Windows shell may be given: at most 900 characters of printable ASCII, none of
// " \ < > ^ | { } ` and every "%" starting an escape of two hex digits.
function shellSafe(url) {
    return url.length <= 900 && /^[\x21-\x7e]*$/.test(url) && !/["\\<>^|{}`]/.test(url) &&
        !/%(?![0-9A-Fa-f]{2})/.test(url);
}

function browserView(url) {
    try {
        const parsed = new URL(url);
        return { protocol: parsed.protocol, host: parsed.host, path: parsed.pathname };
    } catch {
        return { protocol: null, host: null, path: null };
    }
}

function main() {
    const args = process.argv.slice(2);
    const option = (name, fallback) => {
        const at = args.indexOf(name);
        return at >= 0 ? Number(args[at + 1]) : fallback;
    };
    const count = option('--count', 120);
    const seed = option('--seed', 20261210);
    const rows = [];
    for (const [provider, p] of Object.entries(providers)) {
        const seen = new Set();
        for (const choice of variants(p, count, seed)) {
            const url = build(choice, p);
            if (seen.has(url))
                continue;
            seen.add(url);
            rows.push({ provider, url, ...browserView(url), shell_safe: shellSafe(url) });
        }
    }
    process.stdout.write('[\n' + rows.map((r) => JSON.stringify(r)).join(',\n') + '\n]\n');
}

main();
