# A private POP3 and IMAP server for end-to-end tests: Debian's dovecot on 127.0.0.1, with
# its own configuration, password file, Maildir storage and a certificate made at test time.
# Source this file, then:
#   dovecot_start DIR         starts the server; sets DOVECOT_PORT (POP3, plain with STARTTLS),
#                             DOVECOT_TLS_PORT (POP3, TLS from the start), DOVECOT_IMAP_PORT
#                             and DOVECOT_IMAPS_PORT (the same for IMAP, when dovecot-imapd is
#                             installed), DOVECOT_CA (the CA that signed the server's
#                             certificate), DOVECOT_OTHER_CA (a CA that did not), DOVECOT_LOG,
#                             DOVECOT_FREE_PORT (nothing listens there). With DOVECOT_SSL=no
#                             the server offers no TLS at all (no STARTTLS, no TLS ports); a
#                             second dovecot_start runs a second server (the variables then
#                             describe it) and dovecot_stop stops both.
#   dovecot_start_or_skip DIR dovecot_start for a test script: the script ends as skipped
#                             (status 77) when dovecot is not installed and fails (e2e_lib's
#                             fail) when the server does not start
#   dovecot_add_user NAME PASSWORD
#   dovecot_deliver NAME FILE [FOLDER [FLAGS]] delivers FILE as the user's next message
#                             (POP3 numbers and IMAP UIDs follow delivery order), into FOLDER
#                             (as stored, ".Done"; default the inbox) with the Maildir FLAGS
#                             ("S" seen, "T" deleted) when given
#   dovecot_count NAME [FOLDER] how many messages the user's Maildir (or its folder, the
#                             name as stored: ".Done") holds
#   dovecot_folder NAME FOLDER makes the folder (the name as stored)
#   dovecot_stop              stops the server by its process id (also at exit)
# Returns 77 from dovecot_start when dovecot is not installed.

DOVECOT_BIN=${DOVECOT_BIN:-$(command -v dovecot 2>/dev/null || echo /usr/sbin/dovecot)}
DOVECOT_DIR=""
DOVECOT_PID=""
DOVECOT_OTHER_PIDS=""
DOVECOT_SEQ=0
DOVECOT_IMAPD=/usr/lib/dovecot/imap

# A port on 127.0.0.1 that nothing answers on now. Ports above 32767 on purpose: every port a
# test uses is one that a 16-bit reading of the port would refuse.
dovecot_pick_port() {
    local port
    for _ in $(seq 1 50); do
        port=$((32768 + RANDOM % 27000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

dovecot_make_certificates() {
    local d=$1
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/ca.key" -out "$d/ca.crt" -days 2 \
        -subj "/CN=Tallix Test CA" >/dev/null 2>&1 || return 1
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/other.key" -out "$d/other-ca.crt" -days 2 \
        -subj "/CN=Some Other CA" >/dev/null 2>&1 || return 1
    openssl req -newkey rsa:2048 -nodes -keyout "$d/server.key" -out "$d/server.csr" \
        -subj "/CN=localhost" >/dev/null 2>&1 || return 1
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n' >"$d/ext.cnf"
    openssl x509 -req -in "$d/server.csr" -CA "$d/ca.crt" -CAkey "$d/ca.key" -CAcreateserial \
        -out "$d/server.crt" -days 2 -extfile "$d/ext.cnf" >/dev/null 2>&1 || return 1
    chmod 644 "$d/server.key"
}

dovecot_start() {
    [ -x "$DOVECOT_BIN" ] || return 77
    local d=$1 ssl=${DOVECOT_SSL:-yes} protocols=pop3
    [ -x "$DOVECOT_IMAPD" ] && protocols="pop3 imap"
    if [ -n "$DOVECOT_PID" ]; then
        DOVECOT_OTHER_PIDS="$DOVECOT_OTHER_PIDS $DOVECOT_PID"
        DOVECOT_PID=""
    fi
    mkdir -p "$d/run" "$d/state" "$d/mail"
    # The server's unprivileged processes must reach the configuration and the mail.
    chmod 755 "$d"
    DOVECOT_DIR=$d
    : >"$d/passwd"
    chmod 644 "$d/passwd"
    dovecot_make_certificates "$d" || { echo "dovecot fixture: openssl failed" >&2; return 1; }
    # Mail access as root is refused; a root test run hands the mail to nobody.
    if [ "$(id -u)" -eq 0 ]; then
        DOVECOT_USER=nobody
        DOVECOT_GROUP=$(id -gn nobody 2>/dev/null || echo nogroup)
    else
        DOVECOT_USER=$(id -un)
        DOVECOT_GROUP=$(id -gn)
    fi
    local attempt
    for attempt in 1 2 3 4 5; do
        DOVECOT_PORT=$(dovecot_pick_port) || return 1
        DOVECOT_TLS_PORT=$(dovecot_pick_port) || return 1
        DOVECOT_FREE_PORT=$(dovecot_pick_port) || return 1
        DOVECOT_IMAP_PORT=$(dovecot_pick_port) || return 1
        DOVECOT_IMAPS_PORT=$(dovecot_pick_port) || return 1
        [ "$(printf '%s\n' "$DOVECOT_PORT" "$DOVECOT_TLS_PORT" "$DOVECOT_FREE_PORT" \
            "$DOVECOT_IMAP_PORT" "$DOVECOT_IMAPS_PORT" | sort -u | wc -l)" = 5 ] || continue
        local tls_listener="" imaps_listener=""
        if [ "$ssl" != no ]; then
            tls_listener="inet_listener pop3s {
    port = $DOVECOT_TLS_PORT
    ssl = yes
  }"
            imaps_listener="inet_listener imaps {
    port = $DOVECOT_IMAPS_PORT
    ssl = yes
  }"
        fi
        cat >"$d/dovecot.conf" <<EOF
base_dir = $d/run
state_dir = $d/state
log_path = $d/dovecot.log
protocols = $protocols
listen = 127.0.0.1
ssl = $ssl
ssl_cert = <$d/server.crt
ssl_key = <$d/server.key
disable_plaintext_auth = no
auth_mechanisms = plain
auth_failure_delay = 0
stats_writer_socket_path =
default_login_user = $DOVECOT_USER
default_internal_user = $DOVECOT_USER
default_internal_group = $DOVECOT_GROUP
mail_location = maildir:$d/mail/%u
passdb {
  driver = passwd-file
  args = scheme=PLAIN $d/passwd
}
userdb {
  driver = static
  args = uid=$DOVECOT_USER gid=$DOVECOT_GROUP home=$d/mail/%u
}
service pop3-login {
  # A server started by an ordinary user cannot chroot its login processes.
  chroot =
  inet_listener pop3 {
    port = $DOVECOT_PORT
  }
  $tls_listener
}
service imap-login {
  chroot =
  inet_listener imap {
    port = $DOVECOT_IMAP_PORT
  }
  $imaps_listener
}
service anvil {
  chroot =
}
EOF
        DOVECOT_LOG=$d/dovecot.log
        rm -f "$d/run/master.pid"
        if "$DOVECOT_BIN" -c "$d/dovecot.conf" 2>>"$d/start.err"; then
            local i
            for i in $(seq 1 50); do
                if [ -s "$d/run/master.pid" ] &&
                    (exec 3<>"/dev/tcp/127.0.0.1/$DOVECOT_PORT") 2>/dev/null &&
                    { [ "$ssl" = no ] || (exec 3<>"/dev/tcp/127.0.0.1/$DOVECOT_TLS_PORT") 2>/dev/null; } &&
                    { [ "$protocols" = pop3 ] || (exec 3<>"/dev/tcp/127.0.0.1/$DOVECOT_IMAP_PORT") 2>/dev/null; }; then
                    DOVECOT_PID=$(cat "$d/run/master.pid")
                    DOVECOT_CA=$d/ca.crt
                    DOVECOT_OTHER_CA=$d/other-ca.crt
                    return 0
                fi
                sleep 0.1
            done
            [ -s "$d/run/master.pid" ] && DOVECOT_PID=$(cat "$d/run/master.pid") && dovecot_stop
        fi
    done
    echo "dovecot fixture: the server did not start: $(cat "$d/start.err" "$d/dovecot.log" 2>/dev/null)" >&2
    return 1
}

dovecot_start_or_skip() {
    dovecot_start "$1"
    local status=$?
    if [ $status -eq 77 ]; then
        echo "dovecot is not installed; skipped"
        exit 77
    fi
    [ $status -eq 0 ] || fail "dovecot did not start"
}

dovecot_add_user() {
    printf '%s:{PLAIN}%s\n' "$1" "$2" >>"$DOVECOT_DIR/passwd"
    # A running server reads the file again only when a second has passed since it last
    # read it: a user added in the same second would be unknown to it.
    [ -z "$DOVECOT_PID" ] || sleep 1
    mkdir -p "$DOVECOT_DIR/mail/$1/new" "$DOVECOT_DIR/mail/$1/cur" "$DOVECOT_DIR/mail/$1/tmp"
    chown -R "$DOVECOT_USER:$DOVECOT_GROUP" "$DOVECOT_DIR/mail/$1"
}

dovecot_deliver() {
    DOVECOT_SEQ=$((DOVECOT_SEQ + 1))
    local name box="$DOVECOT_DIR/mail/$1/${3:-}"
    name=$((1600000000 + DOVECOT_SEQ)).M${DOVECOT_SEQ}P$$.tallixtest
    cp "$2" "$box/tmp/$name"
    chown "$DOVECOT_USER:$DOVECOT_GROUP" "$box/tmp/$name"
    if [ -n "${4:-}" ]; then
        mv "$box/tmp/$name" "$box/cur/$name:2,$4"
    else
        mv "$box/tmp/$name" "$box/new/$name"
    fi
}

dovecot_count() {
    find "$DOVECOT_DIR/mail/$1/${2:-}/new" "$DOVECOT_DIR/mail/$1/${2:-}/cur" -type f | wc -l
}

dovecot_folder() {
    mkdir -p "$DOVECOT_DIR/mail/$1/$2/new" "$DOVECOT_DIR/mail/$1/$2/cur" "$DOVECOT_DIR/mail/$1/$2/tmp"
    touch "$DOVECOT_DIR/mail/$1/$2/maildirfolder"
    chown -R "$DOVECOT_USER:$DOVECOT_GROUP" "$DOVECOT_DIR/mail/$1/$2"
}

dovecot_stop() {
    local other
    for other in $DOVECOT_OTHER_PIDS; do
        DOVECOT_PID=$other dovecot_stop_one
    done
    DOVECOT_OTHER_PIDS=""
    dovecot_stop_one
}

dovecot_stop_one() {
    [ -n "$DOVECOT_PID" ] || return 0
    # The master leads its own process group; signalling the group stops every process at once.
    kill -TERM -- "-$DOVECOT_PID" 2>/dev/null || kill -TERM "$DOVECOT_PID" 2>/dev/null
    local i state
    for i in $(seq 1 50); do
        state=$(ps -o stat= -p "$DOVECOT_PID" 2>/dev/null)
        # Gone, or a zombie its parent has not reaped yet: stopped either way.
        case "$state" in "" | Z*) break ;; esac
        sleep 0.05
    done
    case "$state" in "" | Z*) ;; *) kill -KILL -- "-$DOVECOT_PID" 2>/dev/null ;; esac
    DOVECOT_PID=""
}
