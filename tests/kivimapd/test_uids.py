"""UIDs come from the folder's UID list: they survive restarts, two daemons on one tree never
hand out the same one, and a damaged list costs a new UIDVALIDITY, never a crash."""

import os
import re
import threading

from daemon import DaemonTestCase, message


def uids_and_subjects(conn, folder="INBOX"):
    typ, data = conn.select(folder, readonly=True)
    assert typ == "OK", data
    validity = int(conn.response("UIDVALIDITY")[1][0])
    typ, data = conn.fetch("1:*", "(UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
    pairs = []
    for item in data:
        if isinstance(item, tuple):
            uid = int(re.search(rb"UID (\d+)", item[0]).group(1))
            pairs.append((uid, item[1].decode().strip().split(": ", 1)[1]))
    return validity, pairs


class UidTest(DaemonTestCase):
    def test_uids_survive_a_restart(self):
        daemon = self.start()
        conn = self.imap(daemon)
        for n in range(3):
            conn.append("INBOX", None, None, message("m%d" % n))
        self.put("new/2000.M1P1.host", message("delivered"))  # by an MDA, not by us
        before = uids_and_subjects(conn)
        self.assertEqual([uid for uid, _ in before[1]], [1, 2, 3, 4])
        conn.logout()
        daemon.stop()

        daemon = self.start(name="again")
        conn = self.imap(daemon)
        self.assertEqual(uids_and_subjects(conn), before)
        conn.append("INBOX", None, None, message("m3"))
        self.assertEqual(uids_and_subjects(conn)[1][-1], (5, "m3"))

    def test_two_daemons_never_hand_out_one_uid(self):
        daemons = [self.start(name="a"), self.start(name="b")]
        conns = [self.imap(d) for d in daemons for _ in range(3)]
        for conn in conns:
            conn.select("INBOX")  # each has seen UIDNEXT 1
        first_validity = int(conns[0].response("UIDVALIDITY")[1][0])
        errors = []

        def append(conn, n):
            try:
                for i in range(8):
                    typ, _ = conn.append("INBOX", None, None, message("c%d-%d" % (n, i)))
                    if typ != "OK":
                        errors.append(typ)
            except Exception as e:  # reported below, in the test's own thread
                errors.append(e)

        threads = [threading.Thread(target=append, args=(c, n)) for n, c in enumerate(conns)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        validity, pairs = uids_and_subjects(self.imap(daemons[0]))
        # Numbered once, in order of reservation: no list was ever found damaged (two lines
        # with one UID) and renumbered, and no reserved UID was lost and given again.
        self.assertEqual(validity, first_validity)
        self.assertEqual(sorted(uid for uid, _ in pairs), list(range(1, 49)))
        self.assertEqual(len({subject for _, subject in pairs}), 48)
        for daemon in daemons:
            self.assertNotIn("corrupt", daemon.log())
        # Both daemons number every message alike.
        self.assertEqual(uids_and_subjects(self.imap(daemons[1])), (validity, pairs))

    def test_a_damaged_uid_list(self):
        self.make_folder("")
        self.put("cur/1000.M1P1.host:2,S", message("one"))
        self.put("cur/1001.M1P1.host:2,", message("two"))
        daemon = self.start()
        validity, pairs = uids_and_subjects(self.imap(daemon))
        for damage in ("garbage\n", "kivimapd-uidlist 1 %d 3\n1 1000.M1P1.host\n1 1001.M1P1.host\n"
                       % validity, "kivimapd-uidlist 1 %d 2\n5 1000.M1P1.host\n" % validity,
                       "kivimapd-uidlist 1 %d 3\n1 1000.M1P1.host\n2 1001" % validity):
            with self.subTest(damage=damage):
                with open(self.path("kivimapd-uidlist"), "w") as f:
                    f.write(damage)
                new_validity, new_pairs = uids_and_subjects(self.imap(daemon))
                self.assertGreater(new_validity, validity)  # clients must forget their UIDs
                self.assertEqual(new_pairs, pairs)
                validity = new_validity
                with open(self.path("kivimapd-uidlist.corrupt")) as f:
                    self.assertEqual(f.read(), damage)
        self.assertIn("is corrupt", daemon.log())

    def test_a_folder_made_again_gets_a_new_uidvalidity(self):
        daemon = self.start()
        conn = self.imap(daemon)
        seen = set()
        for _ in range(3):
            conn.create("Again")
            conn.append("Again", None, None, message("x"))
            self.assertEqual(conn.status("Again", "(UIDVALIDITY)")[0], "OK")
            seen.add(int(re.search(rb"UIDVALIDITY (\d+)",
                                   conn.status("Again", "(UIDVALIDITY)")[1][0]).group(1)))
            conn.delete("Again")
        self.assertEqual(len(seen), 3)
        self.assertFalse(os.path.exists(self.path(".Again")))
