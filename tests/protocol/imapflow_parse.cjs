// Reads a server's untagged responses on stdin and runs them through imapflow's own response
// path: its stream splitter (lines and literals), its parser, and the function that turns a
// FETCH response into the message object an imapflow user gets. Prints one JSON line per
// response; on the first response the parser refuses, prints the error and exits 1.
//
//     node imapflow_parse.cjs NODE_DIR < responses
//
// NODE_DIR holds node_modules/imapflow (tests/js, installed by scripts/install-deps).
'use strict';

const path = require('node:path');
const { createRequire } = require('node:module');

const load = createRequire(path.join(path.resolve(process.argv[2]), 'package.json'));
const { ImapStream } = load('imapflow/lib/handler/imap-stream.js');
const { parser, compiler } = load('imapflow/lib/handler/imap-handler.js');
const { formatMessageResponse, parseBodystructure } = load('imapflow/lib/tools.js');

const silent = {};
for (const level of ['trace', 'debug', 'info', 'warn', 'error', 'fatal']) silent[level] = () => {};
silent.child = () => silent;

// JSON for what the parser and formatter return: bytes as {"bytes": base64}, dates as ISO text.
function plain(value) {
  if (Buffer.isBuffer(value)) return { bytes: value.toString('base64') };
  if (value instanceof Date) return isNaN(value) ? String(value) : value.toISOString();
  if (value instanceof Set) return [...value].map(plain);
  if (value instanceof Map) return Object.fromEntries([...value].map(([k, v]) => [k, plain(v)]));
  if (typeof value === 'bigint') return value.toString();
  if (Array.isArray(value)) return value.map(plain);
  if (value && typeof value === 'object') {
    return Object.fromEntries(Object.entries(value).map(([k, v]) => [k, plain(v)]));
  }
  return value;
}

// The parsed items of a FETCH response as [name as imapflow writes it, token tree] pairs, so
// that items the formatter passes over (BODY, RFC822.HEADER, ...) are shown too.
function items(attributes) {
  const list = (attributes && attributes[1]) || [];
  const out = [];
  for (let i = 0; i + 1 < list.length; i += 2) {
    out.push([compiler({ attributes: [list[i]] }).toString(), tree(list[i + 1])]);
  }
  return out;
}

function tree(token) {
  if (Array.isArray(token)) return token.map(tree);
  if (!token) return null;
  return plain(token.value);
}

async function readStdin() {
  const chunks = [];
  for await (const chunk of process.stdin) chunks.push(chunk);
  return Buffer.concat(chunks);
}

async function main() {
  const input = await readStdin();
  const stream = new ImapStream({ logger: silent });
  stream.on('error', (err) => fail(err, input.subarray(0, 200)));
  const reading = (async () => {
    for await (const item of stream) {
      let parsed;
      try {
        parsed = await parser(item.payload, { literals: item.literals });
      } catch (err) {
        fail(err, item.payload);
      }
      const kind = parsed.attributes && parsed.attributes[0] && parsed.attributes[0].value;
      const out = { tag: parsed.tag, command: parsed.command, kind: kind || null };
      if (parsed.tag === '*' && String(kind).toUpperCase() === 'FETCH') {
        out.items = items(parsed.attributes);
        // The formatter reads BODYSTRUCTURE only; BODY, its shorter form, goes through the same
        // reader here.
        const list = parsed.attributes[1] || [];
        for (let i = 0; i + 1 < list.length; i += 2) {
          const name = list[i];
          if (name.type === 'ATOM' && !name.section && name.value.toUpperCase() === 'BODY') {
            out.body = plain(parseBodystructure(list[i + 1]));
          }
        }
        const message = await formatMessageResponse(parsed, { path: 'INBOX' });
        delete message.id;  // a hash of the path and UID, nothing the server sent
        out.message = plain(message);
      }
      process.stdout.write(JSON.stringify(out) + '\n');
      item.next();
    }
  })();
  stream.end(input);
  await reading;
  if (stream.literalWaiting || stream.lineBuffer.length || stream.inputBuffer.length) {
    fail(new Error('the input ends inside a response'), input.subarray(-200));
  }
}

function fail(err, payload) {
  process.stdout.write(JSON.stringify({
    error: String((err && err.code) || 'Error') + ': ' + String((err && err.message) || err),
    payload: Buffer.from(payload).toString('latin1').slice(0, 300),
  }) + '\n');
  process.exit(1);
}

main().catch((err) => fail(err, Buffer.alloc(0)));
