# The five example-like templates of the run benchmarks, written into the directory given as
# the first argument. Sourced by bench/mailbox_run.sh and bench/maildir_run.sh, so both
# measure the same work.
tdir=$1
# template NAME FILTER-FIELD FIND VARS... (last arg: output definition). Duplicates are allowed
# except for the templates named in $check_duplicates (default: Contacts).
template() {
    local name=$1 field=$2 find=$3; shift 3
    local out=${!#} i=1
    {
        printf '[General]\r\nActive=True\r\nNum_Variables=%d\r\nLast_Ran=Never\r\n' $(($# - 1))
        printf '[Filter]\r\nCommand=%s\r\nFind_String=%s\r\n[Variables]\r\n' "$field" "$find"
        while [ $# -gt 1 ]; do printf 'Var%d=%s\r\n' $i "$1"; i=$((i + 1)); shift; done
        printf '[Output]\r\nAllowDuplicate=%s\r\nFile=%s.csv\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=%s\r\n[Scripts]\r\nrun=\r\n' \
            "$(case " ${check_duplicates-Contacts} " in *" $name "*) echo False ;; *) echo True ;; esac)" "$name" "$out"
    } >"$tdir/$name.txf"
}
[ "${define_only:-0}" = 1 ] && return 0
template Orders MSG_SUBJECT "Order confirmation" "Order;MSG_TEXT;Order:;{End of Line};0;0;1;0;1" \
    "Name;MSG_TEXT;Name:;{End of Line};1;0;1;0;1" "Total;MSG_TEXT;Total:;{End of Line};0;0;1;0;0" "Order,Name,Total"
template Contacts MSG_SUBJECT "Contact form" "Name;MSG_TEXT;Name:;{End of Line};1;0;1;0;1" \
    "Message;MSG_TEXT;Message:;{End of Line};1;1;1;0;0" "Name,Message"
template Senders "<NONE>" "" "Sender;SENDER_NAME;;;1;0;1;0;0" "Address;SENDER_ADDRESS;;;0;0;1;0;0" "Sender,Address"
template Attachments ATTACHMENT "Order" "Order;ATTACHMENT;Order:;{End of Line};0;0;1;0;0" "Order"
template Dates MSG_SUBJECT "news" "Subject;MSG_SUBJECT;;;1;0;1;0;0" "Sent;MSG_SENT_DATE;;;0;0;1;0;0" "Subject,Sent"
