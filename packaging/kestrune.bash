# bash completion for kestrune: subcommands, services, options and their
# values, and action and parameter names, which come from the program's own
# catalogue (`kestrune list --names SERVICE`, `kestrune list SERVICE ACTION`).

_kestrune_parameters() {
  # The first word of each line of the parameter table, as Name=.
  "$1" list "$2" "$3" 2>/dev/null |
    awk '/^Parameter  / { table = 1; next } /^Any other / { table = 0 }
         table && NF && $1 !~ /\.N\./ { print $1 "=" }'
}

_kestrune() {
  local cur prev program=${COMP_WORDS[0]}
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}

  case $prev in
    --format) mapfile -t COMPREPLY < <(compgen -W "table tsv json" -- "$cur"); return ;;
    --method) mapfile -t COMPREPLY < <(compgen -W "GET POST" -- "$cur"); return ;;
    --endpoint-type) mapfile -t COMPREPLY < <(compgen -W "public vpc" -- "$cur"); return ;;
    --signature) mapfile -t COMPREPLY < <(compgen -W "v1 v3" -- "$cur"); return ;;
    --mode)
      mapfile -t COMPREPLY < <(compgen -W "AK StsToken RamRoleArn ChainableRamRoleArn EcsRamRole OIDC
                                           CredentialsURI External" -- "$cur")
      return ;;
    --endpoint | --region | --timeout | --wait-for | --wait-fail | --wait-interval | --wait-timeout) return ;;
  esac

  # The subcommand and its operands so far, options and their values left out.
  local words=() i word
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      --endpoint | --endpoint-type | --signature | --region | --format | --timeout | --method | --retries | --connect-timeout \
        | --read-timeout | --wait-for | --wait-fail | --wait-interval | --wait-timeout | --profile | --mode) ((i++)) ;;
      -*) ;;
      *) words+=("$word") ;;
    esac
  done

  if [[ $cur == -* ]]; then
    local options="--help --version"
    case ${words[0]:-} in
      call) options+=" --endpoint --endpoint-type --signature --region --format --raw --dry-run --all-pages --max-bytes --all-fields --force --method
                       --debug --timeout --retries --connect-timeout --read-timeout
                       --wait-for --wait-fail --wait-interval --wait-timeout" ;;
      demo) options+=" --endpoint --region --format --debug --timeout" ;;
      sample) options+=" --region --format" ;;
      list) options+=" --format" ;;
      configure) options+=" --profile --mode" ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi

  local candidates=""
  if [ "${words[0]:-}" = configure ] && [ "${words[1]:-}" = set ]; then
    candidates="access_key_id= access_key_secret= sts_token= ram_role_arn= ram_session_name=
                expired_seconds= policy= external_id= sts_region= sts_endpoint= source_profile=
                ram_role_name= oidc_provider_arn= oidc_token_file= credentials_uri= process_command=
                region_id= output_format= endpoint_type= signature_version="
    compopt -o nospace 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -W "$candidates" -- "$cur")
    return
  fi
  case ${#words[@]} in
    0) candidates="list call sample credentials demo doctor configure" ;;
    1)
      case ${words[0]} in
        list | call) candidates="ecs iot apigateway" ;;
        configure) candidates="list get set switch delete" ;;
        sample)
          candidates="DescribeRegions DescribeZones DescribeInstanceStatus RebootInstance
                      StartInstance StopInstance" ;;
      esac
      ;;
    2)
      case ${words[0]} in
        list | call) candidates=$("$program" list --names "${words[1]}" 2>/dev/null) ;;
      esac
      ;;
    *)
      if [ "${words[0]}" = call ]; then
        candidates=$(_kestrune_parameters "$program" "${words[1]}" "${words[2]}")
        compopt -o nospace 2>/dev/null
      fi
      ;;
  esac
  mapfile -t COMPREPLY < <(compgen -W "$candidates" -- "$cur")
}

complete -F _kestrune kestrune
