// One imapflow session against kivimapd, driven by test_imapflow.py: prints one JSON line with
// what the client saw. Usage: node imapflow_session.js PORT
const { ImapFlow } = require('imapflow');

async function main() {
  const client = new ImapFlow({
    host: '127.0.0.1', port: Number(process.argv[2]), secure: false, doSTARTTLS: false,
    auth: { user: 'joe', pass: 'secret' }, logger: false, disableAutoIdle: true,
    connectionTimeout: 20000, greetingTimeout: 20000, socketTimeout: 30000,
  });
  const seen = {};
  await client.connect();
  seen.folders = (await client.list()).map((m) => m.path).sort();
  const box = await client.mailboxOpen('INBOX');
  seen.exists = box.exists;
  seen.messages = [];
  for await (const m of client.fetch('1:*', { uid: true, flags: true, envelope: true, size: true,
                                             source: true })) {
    seen.messages.push({ uid: m.uid, flags: [...m.flags].sort(), subject: m.envelope.subject,
                         size: m.size, source: m.source.toString('latin1') });
  }
  seen.flagged = await client.messageFlagsAdd('1', ['\\Flagged'], { uid: true });
  seen.copied = Boolean(await client.messageCopy('2', 'Work', { uid: true }));
  seen.appended = Boolean(await client.append('Sent', process.env.APPEND_MESSAGE, ['\\Seen']));
  seen.deleted = await client.messageDelete('3', { uid: true });
  await client.logout();
  console.log(JSON.stringify(seen));
}

main().catch((err) => {
  console.error(err && err.stack ? err.stack : err);
  process.exit(1);
});
